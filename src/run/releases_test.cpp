// The tool's release table held against the tests' own statement of it (tests/releases.txt),
// field by field. The synthetic game files are made from that statement too, so a number
// mistyped in either place shows here and in every run on those files.
//
// The accepted digest texts are guarded here alone: every synthetic file's header gives the
// first header text, but the second header text and both guard texts are digests of bytes of
// the game itself, which the tests do not have, so no run can reach them.
#include <gtest/gtest.h>

#include <span>
#include <string_view>
#include <vector>

#include "releases.h"
#include "stated_releases.h"

namespace {

std::vector<std::string_view> as_list(std::span<const std::string_view> texts) {
    return {texts.begin(), texts.end()};
}

TEST(releases, the_table_is_the_stated_one) {
    ASSERT_EQ(known_releases.size(), stated_releases.size());
    for (std::size_t i = 0; i < stated_releases.size(); ++i) {
        const stated_release& want = stated_releases[i];
        const target_row& row = known_releases[i];
        SCOPED_TRACE(want.file_name);
        EXPECT_EQ(std::string_view(row.file_name), want.file_name);
        EXPECT_EQ(row.required_length, want.length);
        EXPECT_EQ(row.slot_table_offset, want.slot_table);
        EXPECT_EQ(row.guard_offset, want.guard);
        EXPECT_EQ(std::string_view(row.length_message), want.length_message);
        EXPECT_EQ(std::string_view(row.altered_message), want.altered_message);
        EXPECT_EQ(row.prints_digests, want.prints_digests);
    }
    EXPECT_EQ(as_list(accepted_header_texts), as_list(stated_header_texts));
    EXPECT_EQ(as_list(accepted_guard_texts), as_list(stated_guard_texts));
}

}  // namespace
