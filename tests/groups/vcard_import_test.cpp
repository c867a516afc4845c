#include "groups/vcard_import.h"

#include <gtest/gtest.h>

#include "common/file_util.h"
#include "common/text.h"
#include "groups/group_files.h"
#include "support/temp_dir.h"

namespace qm {
namespace {

std::string fixture(const std::string& name) {
    std::string text;
    EXPECT_TRUE(readFile(std::string(QM_TEST_SOURCE_DIR) + "/import_fixtures/" + name, text));
    return text;
}

std::vector<std::string> storedLines(const VCardParse& parsed) {
    std::vector<std::string> out;
    for (const auto& r : parsed.contacts) out.push_back(formatStoredLine(r));
    return out;
}

// Written by python3-vobject (make_vcards.py): a preferred EMAIL after another, commas and line
// breaks in fields, a folded non-ASCII title, a card without an address.
TEST(VCardImport, CardsWrittenByVobject) {
    VCardParse parsed = parseVCards(fixture("contacts_vobject.vcf"));
    EXPECT_EQ(parsed.withoutEmail, 1u);
    std::vector<std::string> want = {
        "ann@example.com,Ann Lee,+1 555 0100,1%2A Main St%0AFlat 2%0ASpringfield%2A IL 62701%0AUSA,"
        "Manager\xB8 Sales,Smith\xB8 Jones & Co,+1 555 0101,+1 555 0102,"
        "9 Work Rd%0AShelbyville%2A IL 62565%0AUSA,Springfield,IL,62701,USA,E",
        "zoe@example.org,Zo\xC3\xAB \xC3\x85ngstr\xC3\xB6m,,,Directrice g\xC3\xA9n\xC3\xA9rale des "
        "syst\xC3\xA8mes d\xE2\x80\x99information et de la strat\xC3\xA9gie "
        "num\xC3\xA9rique,,,,,,,,,E",
    };
    EXPECT_EQ(storedLines(parsed), want);
}

// Hand-written: a 3.0 card with a property group, a quoted type, an escaped comma in FN, a folded
// number and a quoted-printable address with a soft line break; a 4.0 card with PREF=n, a tel:
// URI and only a work address.
TEST(VCardImport, HandWrittenFoldedQuotedPrintableAndVersionFour) {
    VCardParse parsed = parseVCards(fixture("handwritten.vcf"));
    EXPECT_EQ(parsed.withoutEmail, 0u);
    std::vector<std::string> want = {
        "pat@example.net,Pat O'Neil\xB8 Jr.,+44 20 7946 0000,"
        "12 High St%0D%0AFlat 3%0ALondon SW1A 1AA%0ARoyaume-Uni \xE2\x80\x94 UK,,,,,,London,,"
        "SW1A 1AA,Royaume-Uni \xE2\x80\x94 UK,E",
        "kim@example.com,Kim Park,+1-555-0199,,,,,,1 Plaza%0ASeoul 04524%0AKorea,,,,,E",
    };
    EXPECT_EQ(storedLines(parsed), want);
}

TEST(VCardImport, EveryLineReadsBackWithThirteenFields) {
    // Values that would split a line if written as read.
    VCardParse parsed = parseVCards(
        "BEGIN:VCARD\nVERSION:3.0\nFN:A\\, B\\nC\nEMAIL:a@x.com\nORG:X\\, Y\\nZ\n"
        "TITLE:T,U\nADR;TYPE=home:;;S\\nT;C\\,D;;;\nEND:VCARD\n");
    ASSERT_EQ(parsed.contacts.size(), 1u);
    std::string line = formatStoredLine(parsed.contacts[0]);
    EXPECT_EQ(std::count(line.begin(), line.end(), ','), 13);
    EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos);
    Recipient back = parseGroupLine(line);
    EXPECT_EQ(back.email, "a@x.com");
    EXPECT_EQ(back.city,
              "C\xB8"
              "D");
    EXPECT_EQ(unescapeAddress(back.address1), "S\nT\nC,D");
}

TEST(VCardImport, ImportWritesContactsGroupsBesideExistingOnes) {
    test::TempDir dir;
    Paths paths(dir.file("qm"));
    ASSERT_TRUE(paths.ensureFolders());
    const std::time_t now = 1772719389;
    // A group already holding the time-based name, in other letter case.
    GroupNamer probe(
        "Contacts", [now] { return now; }, 1);
    std::string taken = probe.next([](std::string_view) { return false; });
    dir.write("qm/GroupRecipients/" + groupFileName(lowerAscii(taken)),
              "old@x.com,,,,,,,,,,,,,E\r\n");

    std::string many;
    for (int i = 0; i < 32001; ++i)
        many += "BEGIN:VCARD\r\nVERSION:4.0\r\nFN:N" + std::to_string(i) + "\r\nEMAIL:u" +
                std::to_string(i) + "@x.com\r\nEND:VCARD\r\n";
    dir.write("many.vcf", many);
    ContactsImportResult r = importContacts(
        paths, dir.file("many.vcf"), [now] { return now; }, 3);
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_EQ(r.message, kMsgContactsImported);
    ASSERT_EQ(r.groups.size(), 2u);
    EXPECT_EQ(r.groups[0].recipients, 32000u);
    EXPECT_EQ(r.groups[1].recipients, 1u);
    for (const auto& g : r.groups) EXPECT_NE(lowerAscii(g.name), lowerAscii(taken));
    EXPECT_EQ(dir.read("qm/GroupRecipients/" + groupFileName(lowerAscii(taken))),
              "old@x.com,,,,,,,,,,,,,E\r\n");
    EXPECT_EQ(dir.read("qm/GroupRecipients/" + groupFileName(r.groups[1].name)),
              "u32000@x.com,N32000,,,,,,,,,,,,E\r\n");

    dir.write("none.vcf", "BEGIN:VCARD\r\nFN:x\r\nEND:VCARD\r\n");
    ContactsImportResult none = importContacts(paths, dir.file("none.vcf"));
    EXPECT_FALSE(none.ok);
    EXPECT_EQ(none.message, kMsgNoContacts);
    EXPECT_FALSE(importContacts(paths, dir.file("missing.vcf")).ok);
}

// "mailto:" with nothing after it is no address: such a card is left out and counted.
TEST(VCardImport, MailtoWithoutAnAddressIsNoAddress) {
    VCardParse p = parseVCards(
        "BEGIN:VCARD\r\nFN:A\r\nEMAIL:mailto: \r\nEND:VCARD\r\n"
        "BEGIN:VCARD\r\nFN:B\r\nEMAIL:MAILTO:b@x.com\r\nEND:VCARD\r\n");
    ASSERT_EQ(p.contacts.size(), 1u);
    EXPECT_EQ(p.contacts[0].email, "b@x.com");
    EXPECT_EQ(p.withoutEmail, 1u);
}

}  // namespace
}  // namespace qm
