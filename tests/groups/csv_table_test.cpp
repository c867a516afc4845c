// The CSV reader (RFC 4180 as address books write it) and the "Columns of a CSV file" import over
// exports written by Python's csv module in the shapes of common address books
// (import_fixtures/make_csv.py).
#include "groups/csv_table.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "common/file_util.h"
#include "groups/group_files.h"
#include "groups/recipient_import.h"
#include "support/temp_dir.h"

namespace qm {
namespace {

using Rows = std::vector<std::vector<std::string>>;

Rows allRows(const CsvTable& t) {
    Rows rows{t.header};
    rows.insert(rows.end(), t.records.begin(), t.records.end());
    return rows;
}

TEST(CsvTable, ReadsTheQuotingRules) {
    struct Case {
        const char* name;
        std::string text;
        char separator;
        Rows want;
    };
    const Case cases[] = {
        {"quoted comma and doubled quote",
         "a,b\r\n\"x, y\",\"say \"\"hi\"\"\"\r\n",
         ',',
         {{"a", "b"}, {"x, y", "say \"hi\""}}},
        {"line breaks inside quotes are data",
         "a,b\n\"1 Main St\r\nSuite 5\",z\n",
         ',',
         {{"a", "b"}, {"1 Main St\r\nSuite 5", "z"}}},
        {"LF, CR LF, lone CR and a missing last line end",
         "h\r\na\nb\rc",
         ',',
         {{"h"}, {"a"}, {"b"}, {"c"}}},
        {"byte order mark and semicolons, a quoted semicolon stays",
         "\xEF\xBB\xBFName;Mail\r\n\"Weiß; Söhne\";w@x.de\r\n",
         ';',
         {{"Name", "Mail"}, {"Weiß; Söhne", "w@x.de"}}},
        {"quoted separators do not choose the separator", "\"a;b;c\",d\n", ',', {{"a;b;c", "d"}}},
        {"blank lines skipped, empty fields kept",
         "a,b\n\n,\n\"\"\n",
         ',',
         {{"a", "b"}, {"", ""}, {""}}},
        {"a quote inside plain text is data; text after a closing quote is kept",
         "ab\"c,\"d\"e\n",
         ',',
         {{"ab\"c", "de"}}},
        {"an unclosed quote takes the rest", "a,\"b\nc,d", ',', {{"a", "b\nc,d"}}},
    };
    for (const Case& c : cases) {
        CsvTable t = readCsvTable(c.text);
        EXPECT_EQ(t.separator, c.separator) << c.name;
        EXPECT_EQ(allRows(t), c.want) << c.name;
    }
}

TEST(CsvTable, TooManyColumnsAreCut) {
    std::string wide;
    for (std::size_t i = 0; i < kMaxCsvColumns + 50; ++i) wide += "x,";
    CsvTable t = readCsvTable(wide + "\n" + wide + "\n");
    EXPECT_EQ(t.header.size(), kMaxCsvColumns);
    ASSERT_EQ(t.records.size(), 1u);
    EXPECT_EQ(t.records[0].size(), kMaxCsvColumns);
}

TEST(CsvTable, NamedColumns) {
    CsvTable t = readCsvTable("Name,E-mail Address,City\n");
    EXPECT_EQ(findCsvColumn(t, "e-mail address"), 1u);
    EXPECT_EQ(findCsvColumn(t, "3"), 2u);
    EXPECT_EQ(findCsvColumn(t, "4"), std::nullopt);
    EXPECT_EQ(findCsvColumn(t, "0"), std::nullopt);
    EXPECT_EQ(findCsvColumn(t, "Phone"), std::nullopt);
}

class CsvImport : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(paths.ensureFolders()); }
    ImportResult import(const std::string& path, std::string email = {}, std::string name = {}) {
        ImportOptions o;
        o.content = ImportContent::CsvColumns;
        o.path = path;
        o.emailColumn = std::move(email);
        o.nameColumn = std::move(name);
        std::atomic<bool> running{true};
        return RecipientImport(
                   paths, o, [] { return std::time_t{1772719389}; }, 7)
            .run(running);
    }
    std::vector<Recipient> members(const ImportResult& r) {
        std::vector<Recipient> out;
        if (r.groups.size() == 1) readGroupFile(groupFilePath(paths, r.groups[0].name), out);
        return out;
    }
    static std::string fixture(const char* name) {
        return std::string(QM_TEST_SOURCE_DIR) + "/import_fixtures/" + name;
    }

    test::TempDir dir;
    Paths paths{dir.file("qm")};
};

Recipient person(std::string email, std::string name) {
    Recipient r;
    r.email = std::move(email);
    r.name = std::move(name);
    return r;
}

TEST_F(CsvImport, AddressBookShapes) {
    struct Case {
        const char* file;
        std::vector<Recipient> want;
    };
    Recipient john = person("john.smith@example.com", "John Smith");
    john.title = "Mr";
    john.company = "Smith\xB8 Jones & Co";  // the stored stand-in for the quoted comma
    john.address1 = escapeAddress("1 Main St\nSuite 5");  // stored as "%0A"
    john.city = "Springfield";
    john.state = "IL";
    john.zip = "62701";
    john.country = "United States";
    john.telephone = "555-0100";
    john.mobile = "555-0101";
    john.fax = "555-0102";
    Recipient ann = person("ann.lee@example.com", "Ann Lee");
    ann.title = "Ms";
    ann.company = "Lee \"Design\" Ltd";
    ann.city = "Boston";
    ann.state = "MA";
    ann.zip = "02101";
    ann.country = "United States";
    Recipient zoe = person("zoe@example.org", "Zoë Müller");
    zoe.company = "Acme";
    zoe.telephone = "+49 30 1234";
    zoe.city = "Berlin";
    zoe.country = "Germany";
    Recipient pat = person("pat@example.net", "Pat O'Neil");
    pat.telephone = "555 0199";
    pat.city = "Dublin";
    pat.company = "Quill\xB8 Inc.";
    Recipient joerg = person("joerg@example.de", "Jörg Weiß");
    joerg.city = "Köln";
    Recipient marie = person("marie@example.fr", "Marie Curie");
    marie.city = "Paris";
    const Case cases[] = {
        {"outlook.csv", {john, ann}},
        {"google.csv", {zoe, person("bob@example.com", "Bob Stone")}},
        {"thunderbird.csv", {pat}},
        {"semicolon_bom.csv", {joerg, marie}},
        {"no_header.csv", {person("first@example.com", ""), person("second@example.com", "")}},
    };
    for (const Case& c : cases) {
        ImportResult r = import(fixture(c.file));
        EXPECT_EQ(r.status, ImportStatus::Completed) << c.file << ": " << r.message;
        // As stored lines: a difference then reads as text.
        std::vector<std::string> got, want;
        for (const auto& m : members(r)) got.push_back(formatStoredLine(m));
        for (const auto& m : c.want) want.push_back(formatStoredLine(m));
        EXPECT_EQ(got, want) << c.file;
    }
}

TEST_F(CsvImport, ColumnsNamedByTheUser) {
    // The second e-mail column by its header, the display name by its number.
    ImportResult r = import(fixture("thunderbird.csv"), "Secondary Email", "3");
    ASSERT_EQ(r.status, ImportStatus::Completed) << r.message;
    std::vector<Recipient> got = members(r);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].email, "p2@example.net");
    EXPECT_EQ(got[0].name, "Pat O'Neil");

    r = import(fixture("thunderbird.csv"), "Work Email");
    EXPECT_EQ(r.status, ImportStatus::Failed);
    EXPECT_EQ(r.message, "No column 'Work Email' in " + fixture("thunderbird.csv") +
                             " (its columns: First Name, Last Name, Display Name, Nickname, "
                             "Primary Email, Secondary Email, Work Phone, Home City, "
                             "Organization).");
    EXPECT_TRUE(r.groups.empty());

    // A column that holds no address anywhere: nothing taken, no group.
    r = import(fixture("thunderbird.csv"), "Nickname");
    EXPECT_EQ(r.status, ImportStatus::NothingFound);
    EXPECT_TRUE(listGroups(paths).size() == 1u);  // only the first import's group
}

}  // namespace
}  // namespace qm
