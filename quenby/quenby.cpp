// placeholder: replaced when this module lands
