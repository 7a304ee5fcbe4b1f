int main() { return 0; }  // placeholder: replaced when this module lands
