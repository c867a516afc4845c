#include "groups/recipient.h"

#include <gtest/gtest.h>

namespace qm {
namespace {

TEST(GroupLine, ParseCases) {
    struct Case {
        const char* name;
        std::string line;
        std::string email, recipientName, country;
        RecipientStatus status;
    } cases[] = {
        {"email and name, disabled", "a@x.com,Ann,,,,,,,,,,,,D", "a@x.com", "Ann", "",
         RecipientStatus::Disabled},
        {"no status letter", "a@x.com,Ann,,,,,,,,,,,,", "a@x.com", "Ann", "",
         RecipientStatus::Enabled},
        {"unsubscribed, trailing ignored", "a@x.com,,,,,,,,,,,,NZ,Uxyz", "a@x.com", "", "NZ",
         RecipientStatus::Unsubscribed},
        {"unknown letter", "a@x.com,,,,,,,,,,,,,Q", "a@x.com", "", "", RecipientStatus::Enabled},
        {"line end removed", "a@x.com,Ann,,,,,,,,,,,,E\r\n", "a@x.com", "Ann", "",
         RecipientStatus::Enabled},
        {"no comma at all", "Dave@x.com", "", "", "", RecipientStatus::Enabled},
        {"too few commas: rest gives status", "a@x.com,Dora", "a@x.com", "", "",
         RecipientStatus::Disabled},
        {"nothing trimmed", " a@x.com , Ann ,,,,,,,,,,,,E", " a@x.com ", " Ann ", "",
         RecipientStatus::Enabled},
        {"empty", "", "", "", "", RecipientStatus::Enabled},
    };
    for (const auto& c : cases) {
        Recipient r = parseGroupLine(c.line);
        EXPECT_EQ(r.email, c.email) << c.name;
        EXPECT_EQ(r.name, c.recipientName) << c.name;
        EXPECT_EQ(r.country, c.country) << c.name;
        EXPECT_EQ(r.status, c.status) << c.name;
    }
}

TEST(GroupLine, FieldsInLineOrderAndRoundTrip) {
    std::string line = "e@x.com,Name,123,Addr1,Title,Co,456,789,Addr2,City,State,0123,Country,U";
    Recipient r = parseGroupLine(line);
    EXPECT_EQ(r.telephone, "123");
    EXPECT_EQ(r.address1, "Addr1");
    EXPECT_EQ(r.title, "Title");
    EXPECT_EQ(r.company, "Co");
    EXPECT_EQ(r.mobile, "456");
    EXPECT_EQ(r.fax, "789");
    EXPECT_EQ(r.address2, "Addr2");
    EXPECT_EQ(r.city, "City");
    EXPECT_EQ(r.state, "State");
    EXPECT_EQ(r.zip, "0123");
    EXPECT_EQ(formatStoredLine(r), line);
}

TEST(GroupLine, NewRecordHasThirteenCommasAndE) {
    Recipient r;
    r.email = "a@x.com";
    r.name = "Ann";
    EXPECT_EQ(formatStoredLine(r), "a@x.com,Ann,,,,,,,,,,,,E");
}

TEST(AddressEscape, RoundTripsAndEscapesPercentFirst) {
    struct Case {
        std::string plain, escaped;
    } cases[] = {
        {"12, 10% off", "12%2A 10%2B off"},
        {"%2A", "%2B2A"},
        {"a,%,b", "a%2A%2B%2Ab"},
        {"Flat 2\r\n1 Main St\nTown", "Flat 2%0D%0A1 Main St%0ATown"},
        {"%0A typed", "%2B0A typed"},
        {"", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(escapeAddress(c.plain), c.escaped) << c.plain;
        EXPECT_EQ(unescapeAddress(c.escaped), c.plain) << c.escaped;
    }
}

TEST(GroupLine, PlainFormShowsAddressesAsTyped) {
    Recipient r;
    r.email = "a@x.com";
    r.address1 = escapeAddress("1, Main St");
    r.address2 = escapeAddress("50% Road");
    EXPECT_EQ(formatStoredLine(r), "a@x.com,,,1%2A Main St,,,,,50%2B Road,,,,,E");
    EXPECT_EQ(recipientClipboardText(r), "a@x.com,,,1, Main St,,,,,50% Road,,,,,E\r\n");
    EXPECT_EQ(parseGroupLine(formatStoredLine(r)), r);
}

TEST(GroupLine, CommaInUnescapedFieldKeepsTheLineWellFormed) {
    Recipient r;
    r.email = "a@x.com";
    r.company = "Smith, Jones";
    r.city = "Paris,";
    r.state = ",";
    r.country = "Korea, Republic of";
    r.status = RecipientStatus::Disabled;
    std::string line = formatStoredLine(r);
    EXPECT_EQ(std::count(line.begin(), line.end(), ','), kGroupLineFields);
    Recipient back = parseGroupLine(line);
    EXPECT_EQ(back.company, "Smith\xB8 Jones");
    EXPECT_EQ(back.country, "Korea\xB8 Republic of");
    EXPECT_EQ(back.status, RecipientStatus::Disabled);
}

TEST(GroupLine, LineBreaksNeverSplitTheStoredLine) {
    Recipient r;
    r.email = "a@x.com";
    r.company = "Smith\r\nJones";
    r.address1 = escapeAddress("Flat 2\n1 Main St");
    std::string line = formatStoredLine(r);
    EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos) << line;
    EXPECT_EQ(displayField(parseGroupLine(line), RecipientField::Address1), "Flat 2\n1 Main St");
}

TEST(DisplayField, CommaStandInTurnsBackButUtf8LettersStay) {
    struct Case {
        const char* name;
        std::string stored, shown;
    } cases[] = {
        {"stand-in alone", "Smith\xB8 Jones", "Smith, Jones"},
        {"o with stroke in UTF-8 (C3 B8)", "S\xC3\xB8ren", "S\xC3\xB8ren"},
        {"both in one field", "S\xC3\xB8ren\xB8 Jr", "S\xC3\xB8ren, Jr"},
        {"Windows-1252 letter next to it", "Caf\xE9\xB8 Bar", "Caf\xE9, Bar"},
        {"no stand-in", "Plain", "Plain"},
    };
    for (const auto& c : cases) {
        Recipient r;
        r.company = c.stored;
        EXPECT_EQ(displayField(r, RecipientField::Company), c.shown) << c.name;
    }
    Recipient r;
    r.address2 = escapeAddress("1, Rue") + "\xB8";
    EXPECT_EQ(displayField(r, RecipientField::Address2), "1, Rue,");
}

TEST(Recipient, SetStatusReturnsPreviousLetter) {
    Recipient r;
    EXPECT_EQ(r.setStatus(RecipientStatus::Disabled), 'E');
    EXPECT_EQ(r.setStatus(RecipientStatus::Unsubscribed), 'D');
    EXPECT_EQ(r.setStatus(RecipientStatus::Enabled), 'U');
}

}  // namespace
}  // namespace qm
