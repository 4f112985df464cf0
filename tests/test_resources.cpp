// The /Resources dictionary that applies to a page: on the page, up its ancestors, by
// reference, and cut at its real end.
#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "resources.h"
#include "testutil.h"

namespace {

std::optional<std::string> resources_of(const qf::doc& d, std::int32_t page,
                                        std::int32_t first_ancestor) {
    return qf::get_resources_inherited(d, qf::find_obj(d, page), first_ancestor);
}

struct res_case {
    const char* name;
    std::vector<qft::body> bodies;
    std::int32_t page;
    std::int32_t first_ancestor;
    std::optional<std::string> want;
};

TEST(Resources, FoundOnThePageOrUpTheTree) {
    const std::string fonts = "<< /Font << /F1 5 0 R >> >>";
    const std::vector<res_case> cases = {
        {"own direct dictionary",
         {"<< /Type /Page /Resources << /Font << /F1 5 0 R >> >> /Contents 4 0 R >>"},
         1,
         -1,
         fonts},
        {"no space after the key",
         {"<< /Type /Page /Resources<</XObject<</Im1 6 0 R>>>> >>"},
         1,
         -1,
         "<</XObject<</Im1 6 0 R>>>>"},
        {"on the listing node",
         {"<< /Type /Pages /Kids [2 0 R] /Resources " + fonts + " >>",
          "<< /Type /Page /Parent 1 0 R >>"},
         2,
         1,
         fonts},
        {"on the grandparent through the node's /Parent",
         {"<< /Type /Pages /Kids [2 0 R] /Resources " + fonts + " >>",
          "<< /Type /Pages /Parent 1 0 R /Kids [3 0 R] >>", "<< /Type /Page /Parent 2 0 R >>"},
         3,
         2,
         fonts},
        {"the named first ancestor, not the page's /Parent",
         {"<< /Type /Pages /Resources << /A 1 >> >>", "<< /Type /Pages /Resources << /B 2 >> >>",
          "<< /Type /Page /Parent 1 0 R >>"},
         3,
         2,
         "<< /B 2 >>"},
        {"by reference",
         {"<< /Type /Page /Resources 2 0 R >>", "<< /ProcSet [/PDF /Text] /Font << >> >>"},
         1,
         -1,
         "<< /ProcSet [/PDF /Text] /Font << >> >>"},
        {"by reference into an object stream with a header and a comment",
         {"<< /Type /Page /Resources 2 0 R >>",
          qft::body("% packed\n2 0 obj\n<< /Font << >> >>", true)},
         1,
         -1,
         "<< /Font << >> >>"},
        {"by reference holding a string with >> inside",
         {"<< /Type /Page /Resources 2 0 R >>", "<< /Name (a>>b) /Font << /F1 3 0 R >> >>"},
         1,
         -1,
         "<< /Name (a>>b) /Font << /F1 3 0 R >> >>"},
        {"direct, a string with >> and an escaped parenthesis",
         {"<< /Type /Page /Resources << /P (x\\) >> y) /F << >> >> >>"},
         1,
         -1,
         "<< /P (x\\) >> y) /F << >> >>"},
        {"direct, nested parentheses and << in a string",
         {"<< /Type /Page /Resources << /P (a (<<) b) >> >>"},
         1,
         -1,
         "<< /P (a (<<) b) >>"},
        {"a string right before the closing >>",
         {"<< /Type /Page /Resources << /P (x)>> /Other 1 >>"},
         1,
         -1,
         "<< /P (x)>>"},
        {"hex strings are plain bytes",
         {"<< /Type /Page /Resources << /H <3e3e> >> >>"},
         1,
         -1,
         "<< /H <3e3e> >>"},
        {"null on the page, resources on the parent",
         {"<< /Type /Pages /Resources " + fonts + " >>",
          "<< /Type /Page /Parent 1 0 R /Resources null >>"},
         2,
         1,
         fonts},
        {"reference to a missing object, resources on the parent",
         {"<< /Type /Pages /Resources " + fonts + " >>",
          "<< /Type /Page /Parent 1 0 R /Resources 9 0 R >>"},
         2,
         1,
         fonts},
        {"reference to a non-dictionary, resources on the parent",
         {"<< /Type /Pages /Resources " + fonts + " >>",
          "<< /Type /Page /Parent 1 0 R /Resources 3 0 R >>", "[1 2]"},
         2,
         1,
         fonts},
        {"unterminated dictionary, resources on the parent",
         {"<< /Type /Pages /Resources " + fonts + " >>",
          "<< /Type /Page /Parent 1 0 R /Resources << /Font << /F1 5 0 R >>"},
         2,
         1,
         fonts},
        {"only the first key counts",
         {"<< /Type /Page /Resources null /Resources << /A 1 >> >>"},
         1,
         -1,
         std::nullopt},
        {"root page without resources", {"<< /Type /Page >>"}, 1, -1, std::nullopt},
        {"ancestor missing", {"<< /Type /Page >>"}, 1, 7, std::nullopt},
        {"ancestor without a dictionary",
         {"<< /Type /Page >>", "[/Resources << >>]"},
         1,
         2,
         std::nullopt},
        {"two nodes naming each other as /Parent",
         {"<< /Type /Pages /Parent 2 0 R >>", "<< /Type /Pages /Parent 1 0 R >>",
          "<< /Type /Page /Parent 1 0 R >>"},
         3,
         1,
         std::nullopt},
        {"page from an object stream",
         {qft::body("<< /Type /Page /Resources << /A 1 >> >>", true)},
         1,
         -1,
         "<< /A 1 >>"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const qf::doc d = qft::make_doc(c.bodies);
        EXPECT_EQ(resources_of(d, c.page, c.first_ancestor), c.want);
    }
}

TEST(Resources, NoStartingEntry) {
    const qf::doc d = qft::make_doc({"<< /Resources << >> >>"});
    EXPECT_EQ(qf::get_resources_inherited(d, nullptr, 1), std::nullopt);
    // An entry without a dictionary: nothing, not even its parent's.
    const qf::doc e = qft::make_doc({"<< /Resources << /A 1 >> >>", "[ /Parent 1 0 R ]"});
    EXPECT_EQ(resources_of(e, 2, 1), std::nullopt);
}

// The page and 31 ancestors are searched, no more: resources on the 32nd object up the chain
// are found, on the 33rd they are not.
TEST(Resources, SearchStopsAfterThirtyTwoObjects) {
    for (const auto& [length, found] : {std::pair{32, true}, std::pair{33, false}}) {
        SCOPED_TRACE(length);
        // Object 1 is the page, object i + 1 is the parent of object i; the last has resources.
        std::vector<qft::body> bodies;
        for (int i = 1; i <= length; ++i) {
            std::string b = "<< /Type /" + std::string(i == 1 ? "Page" : "Pages");
            if (i < length) b += " /Parent " + std::to_string(i + 1) + " 0 R";
            if (i == length) b += " /Resources << /Top 1 >>";
            bodies.emplace_back(b + " >>");
        }
        const qf::doc d = qft::make_doc(bodies);
        const auto got = resources_of(d, 1, 2);
        EXPECT_EQ(got.has_value(), found);
        if (found) {
            EXPECT_EQ(*got, "<< /Top 1 >>");
        }
    }
}

} // namespace
