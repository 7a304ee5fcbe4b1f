// Points g_console at a temporary file for the life of the object, so a test can
// read back exactly what the mixer printed.
#pragma once
#include <cstdio>
#include <string>

#include "corvale/run/console.h"

class ConsoleCapture {
public:
    ConsoleCapture() : saved_(g_console), file_(std::tmpfile()) { g_console = file_; }
    ~ConsoleCapture()
    {
        g_console = saved_;
        std::fclose(file_);
    }
    ConsoleCapture(const ConsoleCapture&) = delete;
    ConsoleCapture& operator=(const ConsoleCapture&) = delete;

    // Everything printed so far.
    std::string Text() const
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

    // Everything printed so far, which is then forgotten.
    std::string Take()
    {
        std::string out = Text();
        std::fclose(file_);
        file_ = std::tmpfile();
        g_console = file_;
        return out;
    }

private:
    std::FILE* saved_;
    std::FILE* file_;
};
