// Names a row of a parameterised test after what it checks.
#pragma once

#include <gtest/gtest.h>

#include <string>

// The row's what, with every character but letters and digits made an
// underscore: "no final newline" becomes no_final_newline.
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
