#include "groups/group_export.h"

#include <gtest/gtest.h>

#include "common/file_util.h"
#include "groups/vcard_import.h"
#include "support/temp_dir.h"

namespace qm {
namespace {

// Three recipients that show each rule: an Address 1 with a comma (quoted), an Address 2 with a
// comma (not quoted), a comma stand-in in Company, a name with a quote, and a nearly empty one.
std::vector<Recipient> sampleRows() {
    std::vector<Recipient> rows(3);
    rows[0].name = "Ann Lee";
    rows[0].email = "ann@x.com";
    rows[0].telephone = "0123";
    rows[0].address1 = escapeAddress("1, Main St");
    rows[0].title = "Dr";
    rows[0].company = "Smith\xB8 Jones";
    rows[0].mobile = "0777";
    rows[0].fax = "0999";
    rows[0].address2 = escapeAddress("Unit 5, Park");
    rows[0].city = "Leeds";
    rows[0].state = "West";
    rows[0].zip = "12345";
    rows[0].country = "UK";
    rows[1].email = "bob@y.org";
    rows[1].status = RecipientStatus::Disabled;
    rows[2].name = "Cy \"C\" Dee";
    rows[2].email = "cy@z.net";
    rows[2].address1 = escapeAddress("50% Road");
    return rows;
}

std::string golden(const std::string& name) {
    std::string text;
    EXPECT_TRUE(readFile(std::string(QM_TEST_SOURCE_DIR) + "/golden/" + name, text)) << name;
    return text;
}

TEST(Export, ModesMatchGoldenFiles) {
    struct Case {
        const char* file;  // the golden file and the output name (its ending decides the header)
        ExportMode mode;
        ExportSeparator separator;
    } cases[] = {
        {"emails_enter.csv", ExportMode::Emails, ExportSeparator::Enter},
        {"emails_semicolon.txt", ExportMode::Emails, ExportSeparator::Semicolon},
        {"names_tab.txt", ExportMode::EmailsAndName, ExportSeparator::Tab},
        {"names_comma.csv", ExportMode::EmailsAndName, ExportSeparator::Comma},
        {"all_comma.csv", ExportMode::AllFields, ExportSeparator::Comma},
        {"all_bar.txt", ExportMode::AllFields, ExportSeparator::Bar},
    };
    test::TempDir dir;
    for (const auto& c : cases) {
        StoreResult r = exportToFile(sampleRows(), dir.file(c.file), c.mode, c.separator);
        ASSERT_TRUE(r.ok()) << c.file << ": " << r.message;
        EXPECT_EQ(r.message, "Recipients has been successfully exported.");
        EXPECT_EQ(dir.read(c.file), golden(c.file)) << c.file;
    }
}

TEST(Export, HeaderOnlyForCsvInExactCase) {
    test::TempDir dir;
    struct Case {
        const char* file;
        bool header;
    } cases[] = {{"a.csv", true}, {"a.CSV", false}, {"a.csv.txt", false}, {"a.txt", false}};
    for (const auto& c : cases) {
        ASSERT_TRUE(
            exportToFile({}, dir.file(c.file), ExportMode::AllFields, ExportSeparator::Comma).ok());
        EXPECT_EQ(dir.read(c.file).empty(), !c.header) << c.file;
    }
}

TEST(Export, SaveDialogNamesGetTheFiltersExtensionOnce) {
    struct Case {
        const char* typed;
        bool csv;
        const char* want;
    } cases[] = {
        {"list", false, "list.txt"},         {"list.txt", false, "list.txt"},
        {"list.csv", false, "list.csv.txt"},  // no header then
        {"list", true, "list.csv"},          {"list.csv", true, "list.csv"},
        {"list.CSV", true, "list.CSV.csv"},
    };
    for (const auto& c : cases) EXPECT_EQ(exportFileName(c.typed, c.csv), c.want) << c.typed;
}

TEST(Export, FailuresAreReportedNeverAnnounced) {
    test::TempDir dir;
    struct Case {
        const char* name;
        std::string path;
        ExportSeparator separator;
        std::string messageStart;
    } cases[] = {
        {"no file", "", ExportSeparator::Comma, "Please enter a filename to save data."},
        {"folder missing", dir.file("none/out.txt"), ExportSeparator::Comma,
         "Failed to save data."},
        {"target is a folder", dir.path(), ExportSeparator::Comma, "Failed to save data."},
        {"Enter in a field mode", dir.file("x.txt"), ExportSeparator::Enter, "The Enter separator"},
    };
    for (const auto& c : cases) {
        StoreResult r = exportToFile(sampleRows(), c.path, ExportMode::AllFields, c.separator);
        EXPECT_FALSE(r.ok()) << c.name;
        EXPECT_EQ(r.message.substr(0, c.messageStart.size()), c.messageStart) << c.name;
    }
    EXPECT_FALSE(exportVCards(sampleRows(), dir.file("none/out.vcf")).ok());
}

TEST(VCard, CardsAreFoldedAt75OctetsWithoutSplittingLetters) {
    std::vector<Recipient> rows(1);
    rows[0].email = "long@x.com";
    for (int i = 0; i < 40; ++i) rows[0].name += "\xC3\xB8";  // 80 octets of "ø"
    rows[0].company = "A;B,C\\D";
    std::string text = buildVCards(rows);
    std::string unfolded;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find("\r\n", pos);
        ASSERT_NE(end, std::string::npos);
        std::string_view l(text.data() + pos, end - pos);
        EXPECT_LE(l.size(), 75u) << l;
        if (!l.empty() && l[0] == ' ') {
            EXPECT_NE(static_cast<unsigned char>(l[1]) & 0xC0, 0x80) << "split inside a letter";
            unfolded.append(l.substr(1));
        } else {
            if (!unfolded.empty()) unfolded += '\n';
            unfolded.append(l);
        }
        pos = end + 2;
    }
    std::string name;
    for (int i = 0; i < 40; ++i) name += "\xC3\xB8";
    EXPECT_NE(unfolded.find("\nFN:" + name + "\n"), std::string::npos) << unfolded;
    EXPECT_NE(unfolded.find("\nORG:A\\;B\\,C\\\\D\n"), std::string::npos) << unfolded;
    EXPECT_EQ(unfolded.find("TITLE"), std::string::npos) << "empty fields are left out";
}

TEST(VCard, StoredWindows1252BecomesUtf8AndStandInsCommas) {
    std::vector<Recipient> rows(1);
    rows[0].email = "a@x.com";
    rows[0].name = "Caf\xE9";
    rows[0].city = "Paris\xB8 Centre";
    std::string text = buildVCards(rows);
    EXPECT_NE(text.find("FN:Caf\xC3\xA9\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("ADR;TYPE=home:;;;Paris\\, Centre;;;\r\n"), std::string::npos) << text;
}

// An imported home address holds its city, state, zip and country as its last lines as well;
// exported and imported again, the group must come back unchanged, however often.
TEST(VCard, ExportThenImportGivesTheSameGroupLines) {
    // asIs: the line comes back unchanged; otherwise only the first trip may change it (home
    // address parts added to Address 1, a number's comma removed).
    const struct {
        const char* line;
        bool asIs;
    } cases[] = {
        {"ann@x.com,Ann Lee,555 1234,1 Road,Dr,Acme,555 99,555 98,2 Way,,,,,E", true},
        {"ann@x.com,Ann Lee,,1 Road,,,,,,Town,ST,12345,Land,E", false},
        {"bo@x.com,Bo,,,,,,,,Town,,,Land,E", false},
        {"cy@x.com,Cy,,Flat 2%0AHigh St,,,,,,Town,,9,,E", false},
        // Without a name the card is known by the address, which must not come back as the name.
        {"eve@x.com,,555 1,,,,,,,,,,,E", true},
        // The blank before a removed comma is trimmed in the first trip, not in the second.
        {"dee@x.com,Dee,555 1234 \xB8,,,,,,,,,,,E", false},
        // A number or an address written with a "tel:" or "mailto:" in front keeps it.
        {"fay@x.com,Fay,tel:555,,,,TEL: 6,,,,,,,E", true},
        {"mailto:gus@x.com,Gus,,,,,,,,,,,,E", true},
        {"MAILTO: hal@x.com,,,,,,,,,,,,,E", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        std::string once;
        Recipient r = parseGroupLine(c.line);
        for (int trip = 0; trip < 3; ++trip) {
            VCardParse back = parseVCards(buildVCards({r}));
            ASSERT_EQ(back.contacts.size(), 1u);
            r = back.contacts[0];
            if (trip == 0) once = formatStoredLine(r);
            EXPECT_EQ(formatStoredLine(r), once) << "trip " << trip;
        }
        if (c.asIs) {
            EXPECT_EQ(once, c.line);
        }
    }
    Recipient r = parseGroupLine("ann@x.com,Ann Lee,,1 Road,,,,,,Town,ST,12345,Land,E");
    r = parseVCards(buildVCards({r})).contacts.at(0);
    EXPECT_EQ(displayField(r, RecipientField::Address1), "1 Road\nTown, ST 12345\nLand");
}

}  // namespace
}  // namespace qm
