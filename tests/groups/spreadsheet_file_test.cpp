#include "groups/spreadsheet_file.h"

#include <gtest/gtest.h>

#include "groups/address.h"
#include "groups/address_extraction.h"
#include "groups/sheet_xml.h"
#include "support/temp_dir.h"

namespace qm {
namespace {

std::string fixture(const std::string& name) {
    return std::string(QM_TEST_SOURCE_DIR) + "/import_fixtures/" + name;
}

using Rows = std::vector<std::vector<std::string>>;

Rows readAll(SpreadsheetFile& f) {
    Rows rows;
    std::vector<std::string> cells;
    while (f.readRow(0, cells)) rows.push_back(cells);
    return rows;
}

// The same two sheets written by xlwt, openpyxl and odfpy (make_sheets.py).
TEST(Spreadsheet, FixturesFromIndependentWritersReadBackAsWritten) {
    const Rows people = {
        {"Name", "ann.lee@example.com", "Amount", "Note"},
        {"Zo\xC3\xAB \xC3\x85ngstr\xC3\xB6m", "zoe@example.org", "42", ""},
        {"Bob", "bob@example.com", "3.5", "first, second"},
        {"", "", "", ""},
        {"Kim", "not an address", "-7", "x"},
        {"", "last@example.net", "0.001", ""},
    };
    for (const char* file : {"people.xls", "people.xlsx", "people.ods"}) {
        SCOPED_TRACE(file);
        std::vector<std::string> names;
        std::string error;
        ASSERT_TRUE(sheetNames(fixture(file), names, &error)) << error;
        EXPECT_EQ(names, (std::vector<std::string>{"People", "Other"}));

        SpreadsheetFile f;
        ASSERT_TRUE(f.open(fixture(file), "People")) << f.lastError();
        EXPECT_EQ(f.columnCount(), 4u);
        EXPECT_EQ(readAll(f), people);
        std::string cell;
        EXPECT_TRUE(f.readCell(2, 3, cell));
        EXPECT_EQ(cell, "bob@example.com");

        ASSERT_TRUE(f.open(fixture(file), "Other")) << f.lastError();
        EXPECT_EQ(readAll(f), Rows{{"only@other.example"}});

        EXPECT_FALSE(f.open(fixture(file), "Missing"));
        EXPECT_EQ(f.rowCount(), 0u);
        EXPECT_NE(f.lastError().find("Missing"), std::string::npos);
    }
}

TEST(Spreadsheet, ReadErrorsCarryTheirTexts) {
    SpreadsheetFile f;
    EXPECT_FALSE(f.open(fixture("people.XLSX"), "People"));  // no such file
    EXPECT_EQ(sheetFormatOf("A.XLS"), SheetFormat::Xls);
    EXPECT_FALSE(f.open(fixture("missing.csv"), ","));
    EXPECT_EQ(f.lastError(), kSheetErrorOpening);

    ASSERT_TRUE(f.open(fixture("people.xls"), "People"));
    std::string cell;
    std::vector<std::string> row;
    EXPECT_FALSE(f.readCell(0, 1, cell));
    EXPECT_EQ(f.lastError(), kSheetErrorColumnZero);
    EXPECT_FALSE(f.readCell(1, 7, cell));
    EXPECT_EQ(f.lastError(), kSheetErrorReadingRow);
    EXPECT_FALSE(f.readRow(7, row));
    EXPECT_EQ(f.lastError(), kSheetErrorRowTooLarge);
    EXPECT_FALSE(f.readCell(5, 1, cell));  // beyond the columns: false, no new error text
    EXPECT_EQ(f.lastError(), kSheetErrorRowTooLarge);
    EXPECT_TRUE(f.readRow(6, row));
    EXPECT_EQ(f.currentRow(), 7u);
}

TEST(Spreadsheet, DelimitedTextQuotingRule) {
    struct Case {
        const char* line;
        std::vector<std::string> want;
    } cases[] = {
        {"a,b,,c", {"a", "b", "", "c"}},
        {"\"a, x\",\"b\",\"c\"", {"a, x", "b", "c"}},
        {"\"only\"", {"only"}},
        {"\"half,b", {"\"half", "b"}},
        {"", {""}},
    };
    for (const auto& c : cases) EXPECT_EQ(splitDelimitedLine(c.line, ","), c.want) << c.line;
}

TEST(SheetXml, SharedStringsRichRunsRepeatsAndHostileSizes) {
    std::vector<std::string> shared;
    ASSERT_TRUE(parseSharedStrings(
        "<sst xmlns=\"x\"><si><t>plain</t></si><si><r><t>ri</t></r><r><t xml:space=\"preserve\">ch "
        "</t></r><rPh><t>PHONETIC</t></rPh></si><si><t xml:space=\"preserve\"> </t></si></sst>",
        shared, nullptr));
    EXPECT_EQ(shared, (std::vector<std::string>{"plain", "rich ", " "}));

    SheetRows rows;
    ASSERT_TRUE(parseXlsxSheet(
        "<x:worksheet xmlns:x=\"m\"><x:sheetData><x:row r=\"1\"><x:c r=\"B1\" t=\"s\"><x:v>1</x:v>"
        "</x:c><x:c t=\"b\"><x:v>1</x:v></x:c><x:c r=\"IW1\"><x:v>9</x:v></x:c></x:row>"
        "<x:row><x:c t=\"s\"><x:v>99</x:v></x:c><x:c><x:v>1E-3</x:v></x:c></x:row>"
        "</x:sheetData></x:worksheet>",
        shared, rows, nullptr));
    // Column IW lies beyond IV; an unknown shared string index is an empty cell.
    EXPECT_EQ(rows, (SheetRows{{"", "rich ", "TRUE"}, {"", "0.001"}}));

    const char* ods =
        "<office:document-content><office:body><office:spreadsheet>"
        "<table:table table:name=\"S\"><table:table-column table:number-columns-repeated=\"1024\"/>"
        "<table:table-row table:number-rows-repeated=\"2\"><table:table-cell "
        "table:number-columns-repeated=\"2\"><text:p>a<text:s text:c=\"2\"/>b</text:p><text:p>c"
        "</text:p></table:table-cell><table:table-cell table:number-columns-repeated=\"16384\"/>"
        "</table:table-row><table:table-row "
        "table:number-rows-repeated=\"1048576\"><table:table-cell"
        " table:number-columns-repeated=\"16384\"/></table:table-row></table:table>"
        "</office:spreadsheet></office:body></office:document-content>";
    ASSERT_TRUE(parseOdsSheet(ods, "S", rows, nullptr));
    EXPECT_EQ(rows, (SheetRows{{"a  b\nc", "a  b\nc"}, {"a  b\nc", "a  b\nc"}}));

    // One long text repeated into every cell of 65,536 rows would take gigabytes: refused.
    std::string big(70000, 'x');
    std::string hostile =
        "<table:table table:name=\"S\"><table:table-row table:number-rows-repeated="
        "\"65536\"><table:table-cell table:number-columns-repeated=\"256\"><text:p>" +
        big + "</text:p></table:table-cell></table:table-row></table:table>";
    std::string error;
    EXPECT_FALSE(parseOdsSheet(hostile, "S", rows, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(parseXlsxSheet("<worksheet><sheetData><row>", shared, rows, &error));
}

TEST(Extraction, SheetsAndTextIntoTheBox) {
    std::atomic<bool> running{true};
    // The box holds an address that contains one of the sheet's: that one is still added.
    ExtractionRequest sheet{fixture("people.xlsx"), "People", "joann.lee@example.com"};
    ExtractionResult r = extractAddresses(sheet, running);
    EXPECT_EQ(r.status, ExtractionStatus::Found);
    EXPECT_EQ(r.boxText,
              "joann.lee@example.com;ann.lee@example.com;zoe@example.org;bob@example.com;"
              "last@example.net;");
    EXPECT_EQ(r.found, 4u);

    // A .csv file is searched as text: quoted cells and "Name <address>" cells give their
    // addresses; an address held already is not added again, even in another place of the box.
    test::TempDir dir;
    dir.write("h.csv",
              "\"John\",\"john@x.com\",5\r\nName <a@x.com>,\"Lee, Ann <ann.lee@example.com>\"\r\n"
              "bob@example.com\r\n");
    ExtractionResult csv = extractAddresses({dir.file("h.csv"), "", "bob@example.com, "}, running);
    EXPECT_EQ(csv.status, ExtractionStatus::Found);
    EXPECT_EQ(csv.boxText, "bob@example.com, john@x.com;a@x.com;ann.lee@example.com;");
    EXPECT_EQ(csv.addresses,
              (std::vector<std::string>{"john@x.com", "a@x.com", "ann.lee@example.com"}));
    EXPECT_EQ(csv.found, 4u);

    dir.write("t.txt", "Write to a@x.com or b@y.org; a@x.com again.");
    ExtractionResult text = extractAddresses({dir.file("t.txt"), "", "c@z.net"}, running);
    EXPECT_EQ(text.boxText, "c@z.net;a@x.com;b@y.org;");
    EXPECT_EQ(text.found, 3u);

    dir.write("none.txt", "nothing here");
    ExtractionResult none = extractAddresses({dir.file("none.txt"), "", "keep"}, running);
    EXPECT_EQ(none.status, ExtractionStatus::NothingFound);
    EXPECT_EQ(none.message, kMsgNothingExtracted);
    EXPECT_EQ(none.boxText, "keep");

    ExtractionResult missing = extractAddresses({fixture("people.xlsx"), "Nope", "keep"}, running);
    EXPECT_EQ(missing.status, ExtractionStatus::Failed);
    EXPECT_EQ(missing.boxText, "keep");

    // Only the first 200,000 characters of a text file are searched.
    dir.write("long.txt", std::string(kExtractTextChars, ' ') + "late@x.com");
    EXPECT_EQ(extractAddresses({dir.file("long.txt"), "", ""}, running).status,
              ExtractionStatus::NothingFound);

    std::atomic<bool> stopped{false};
    ExtractionResult halted = extractAddresses(sheet, stopped);
    EXPECT_EQ(halted.status, ExtractionStatus::Stopped);
    EXPECT_TRUE(halted.message.empty());
}

TEST(Extraction, SheetNameRules) {
    std::string name;
    EXPECT_EQ(checkSheetName("  ", name), std::string(kMsgEnterSheetName));
    EXPECT_EQ(checkSheetName("a[1]", name), std::string("Invalid charaters(\\/?*[]:) detected."));
    EXPECT_FALSE(checkSheetName(" 2024 totals ", name));
    EXPECT_EQ(name, "2024 totals");
    EXPECT_EQ(defaultSheet({"People", "Sheet1"}), "Sheet1");
    EXPECT_EQ(defaultSheet({"People"}), "People");
}

TEST(Extraction, RefusedAtOneHundredThousand) {
    std::string box;
    for (int i = 0; i < 99999; ++i) box += "u" + std::to_string(i) + "@x.com;";
    EXPECT_FALSE(extractionRefusal(box));
    box += "last@x.com";
    EXPECT_EQ(extractionRefusal(box), std::string(kMsgTooManyAddresses));
}

}  // namespace
}  // namespace qm
