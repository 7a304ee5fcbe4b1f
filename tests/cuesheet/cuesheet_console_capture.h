// Points the console at a temporary file for the life of the object so a test
// can read back exactly what was printed.
#pragma once
#include <cstdio>
#include <string>

#include "corvale/run/console.h"

class ConsoleCapture {
public:
    ConsoleCapture() : file_(std::tmpfile()), saved_(g_console) { g_console = file_; }
    ~ConsoleCapture()
    {
        g_console = saved_;
        std::fclose(file_);
    }
    ConsoleCapture(const ConsoleCapture&) = delete;
    ConsoleCapture& operator=(const ConsoleCapture&) = delete;

    // Everything printed so far.
    std::string Text()
    {
        std::fflush(file_);
        std::rewind(file_);
        std::string out;
        char buf[4096];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, file_)) > 0) out.append(buf, n);
        std::fseek(file_, 0, SEEK_END);
        return out;
    }

private:
    std::FILE* file_;
    std::FILE* saved_;
};
