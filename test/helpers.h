// What the tests share: names and printing for rows of tables of cases, and
// temporary files.
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <ostream>
#include <string>
#include <unistd.h>

// Names a row of a parameterised test after what it checks: its what, with
// every character but letters and digits made an underscore, so that "no
// final newline" becomes no_final_newline.
struct rowname {
    template <class T> std::string operator()(const testing::TestParamInfo<T>& info) const
    {
        std::string s = info.param.what;
        for (char& c : s)
            if (!std::isalnum(static_cast<unsigned char>(c)))
                c = '_';
        return s;
    }
};

namespace rows {

// Prints a row by its what. A test file takes it in with
// `using rows::PrintTo;` in the namespace of its rows, where GoogleTest
// looks for it.
template <class T>
requires requires(const T& c)
{
    c.what;
}
void PrintTo(const T& c, std::ostream* os)
{
    *os << c.what;
}

}  // namespace rows

// A temporary file holding s, read and written from its start.
struct tempfile {
    std::FILE* f = std::tmpfile();
    explicit tempfile(const std::string& s = "")
    {
        std::fwrite(s.data(), 1, s.size(), f);
        std::fflush(f);
        ::lseek(fd(), 0, SEEK_SET);
    }
    ~tempfile() { std::fclose(f); }
    tempfile(const tempfile&) = delete;
    tempfile& operator=(const tempfile&) = delete;
    int fd() const { return fileno(f); }
    std::string contents() const
    {
        std::string s;
        char buf[65536];
        for (ssize_t n, at = 0; (n = ::pread(fd(), buf, sizeof buf, at)) > 0; at += n)
            s.append(buf, static_cast<std::size_t>(n));
        return s;
    }
};
