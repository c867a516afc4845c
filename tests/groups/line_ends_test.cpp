// Every reader of a user's text (an import file, the clipboard) takes LF alone as a line end as
// well as CR LF, and a mix of both: the same text in each of the three shapes gives the same
// recipients. What the program writes keeps CR LF. (The typed address list is one line: ";" and
// "," separate there, and a line break is no separator in any shape.)
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "groups/address.h"
#include "groups/group_files.h"
#include "groups/group_store.h"
#include "groups/recipient_import.h"
#include "support/temp_dir.h"

namespace qm {
namespace {

// The lines joined with CR LF, LF, or alternately both, and a final line end of the same kind.
std::string shaped(const std::vector<std::string>& lines, const std::string& shape) {
    std::string out;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const bool crlf = shape == "CR LF" || (shape == "mixed" && i % 2 == 0);
        out += lines[i] + (crlf ? "\r\n" : "\n");
    }
    return out;
}

const char* const kShapes[] = {"CR LF", "LF", "mixed"};

std::vector<std::pair<std::string, std::string>> importItems(const std::string& text,
                                                             const char* path, ImportContent c) {
    std::vector<std::pair<std::string, std::string>> got;
    splitImportItems(text, path, c, ImportDelimiter::Enter, [&](const ImportItem& item) {
        if (isEmailAddress(item.address)) got.emplace_back(std::string(item.address), item.name);
        return true;
    });
    return got;
}

TEST(LineEnds, ImportReadsEveryShapeAlike) {
    using Items = std::vector<std::pair<std::string, std::string>>;
    const Items plain{{"a@x.com", ""}, {"b@x.com", ""}, {"c@x.com", ""}};
    const Items named{{"a@x.com", "Ann"}, {"b@x.com", "Bob"}, {"c@x.com", "Cy"}};
    for (const char* shape : kShapes) {
        const std::string emails = shaped({"a@x.com", "b@x.com", "c@x.com"}, shape);
        const std::string names = shaped({"Ann,a@x.com", "Bob,b@x.com", "Cy,c@x.com"}, shape);
        EXPECT_EQ(importItems(emails, "a.txt", ImportContent::EmailsOnly), plain) << shape;
        EXPECT_EQ(importItems(emails, "a.csv", ImportContent::EmailsOnly), plain) << shape;
        EXPECT_EQ(importItems(names, "a.txt", ImportContent::EmailsAndName), named) << shape;
        EXPECT_EQ(importItems(names, "a.csv", ImportContent::EmailsAndName), named) << shape;
    }
}

TEST(LineEnds, PasteTakesEveryShapeAndStoresCrLf) {
    for (const char* shape : kShapes) {
        test::TempDir dir;
        Paths paths{dir.file("qm")};
        ASSERT_TRUE(paths.ensureFolders());
        dir.write("qm/GroupRecipients/" + groupFileName("G"), "");
        GroupStore store{paths};
        ASSERT_TRUE(store.load("G").ok());
        GroupStore::PasteCounts counts;
        ASSERT_TRUE(store
                        .paste(shaped({"a@x.com,Ann,,,,,,,,,,,,E", "b@x.com,Bob,,,,,,,,,,,,E",
                                       "c@x.com,Cy,,,,,,,,,,,,E"},
                                      shape),
                               &counts)
                        .ok())
            << shape;
        EXPECT_EQ(counts.added, 3u) << shape;
        EXPECT_EQ(
            dir.read("qm/GroupRecipients/" + groupFileName("G")),
            "a@x.com,Ann,,,,,,,,,,,,E\r\nb@x.com,Bob,,,,,,,,,,,,E\r\nc@x.com,Cy,,,,,,,,,,,,E\r\n")
            << shape;
    }
}

}  // namespace
}  // namespace qm
