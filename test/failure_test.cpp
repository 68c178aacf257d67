#include "failure.h"

#include "helpers.h"

#include <gtest/gtest.h>

#include <functional>
#include <new>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

namespace {

using rows::PrintTo;

struct reportcase {
    const char* what;
    std::function<void()> run;
    std::string message;
};

class reporttest : public testing::TestWithParam<reportcase> {};

TEST_P(reporttest, onemessage)
{
    std::exception_ptr e;
    try {
        GetParam().run();
    } catch (...) {
        e = std::current_exception();
    }
    ASSERT_TRUE(e);
    const tempfile err;
    report(e, err.f);
    std::fflush(err.f);
    EXPECT_EQ(err.contents(), GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(
    all, reporttest,
    testing::Values(
        reportcase{"a failure", [] { throw failure("Cant find eth mapping file"); }, "Cant find eth mapping file\n"},
        reportcase{"a system error",
                   [] {
                       errno = ENOSPC;
                       syserror("Cant write output");
                   },
                   "Cant write output: No space left on device\n"},
        reportcase{"memory", [] { throw std::bad_alloc(); }, "Cant allocate memory\n"},
        reportcase{"a buffer too large", [] { std::vector<char>().reserve(std::vector<char>().max_size() + 1); },
                   "Cant allocate memory\n"},
        // what no code of the program means to throw
        reportcase{"another exception",
                   [] { throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again)); },
                   "Cant annotate: Resource temporarily unavailable\n"},
        reportcase{"not an exception", [] { throw 1; }, "Cant annotate: unknown failure\n"}),
    rowname());

}  // namespace
