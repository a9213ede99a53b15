#include "Diagnostics.h"
#include "DiagnosticsCapture.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace veldatron;
using namespace veldatron::testing;

// A program that repeats a faulty sequence must not flood the log: a burst goes through, then one
// line per interval, and the next line that goes through says how many were held back.
TEST(Diagnostics, RepeatedLinesAreRateLimited) {
    DiagnosticsCapture diagnostics;
    diagnostics.freeze(true);
    DiagnosticSite site;
    for (int i = 0; i < DiagnosticSite::burst + 5; ++i) {
        site.emit("line " + std::to_string(i));
    }
    ASSERT_EQ(diagnostics.captured().size(), size_t(DiagnosticSite::burst));
    EXPECT_EQ(diagnostics.captured().back(), "line 9");

    diagnostics.advance(DiagnosticSite::interval);
    site.emit("later");
    site.emit("too soon");
    const std::vector<std::string> expected{"Info: 5 similar diagnostic lines suppressed", "later"};
    EXPECT_EQ(
        std::vector<std::string>(diagnostics.captured().end() - 2, diagnostics.captured().end()),
        expected);

    // Another site has its own allowance.
    DiagnosticSite other;
    other.emit("elsewhere");
    EXPECT_EQ(diagnostics.captured().back(), "elsewhere");
}
