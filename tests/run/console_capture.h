// Test helpers: read back what the mixer printed, and work in a fresh directory.
#pragma once
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "tests/console_capture.h"


// Runs a test inside a fresh temporary directory and returns to the old one.
class TempDirTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        old_ = std::filesystem::current_path();
        char tmpl[] = "/tmp/corvale_run_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        std::filesystem::current_path(dir_);
    }
    void TearDown() override
    {
        std::filesystem::current_path(old_);
        std::filesystem::remove_all(dir_);
    }
    static void WriteFile(const char* name, const std::string& text)
    {
        std::FILE* f = std::fopen(name, "wb");
        ASSERT_NE(f, nullptr);
        std::fwrite(text.data(), 1, text.size(), f);
        std::fclose(f);
    }
    static std::string ReadFile(const char* name)
    {
        std::string out;
        std::FILE* f = std::fopen(name, "rb");
        if (f == nullptr) return out;
        char buf[4096];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
        std::fclose(f);
        return out;
    }
    // A stream holding text, rewound, for the readers that take a FILE*.
    static std::FILE* StreamOf(const std::string& text)
    {
        std::FILE* f = std::tmpfile();
        std::fwrite(text.data(), 1, text.size(), f);
        std::rewind(f);
        return f;
    }

    std::filesystem::path old_, dir_;
};
