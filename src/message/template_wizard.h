// The template wizard's core: eight fixed page designs filled with the user's links, texts and two
// pictures, written as an ".htm" file with its pictures in an "Images" folder beside it. The page
// starts with a comment header listing those pictures, so that inserting it later as a web page
// (message/html_tools.h) attaches them again.
//
// Entry points:
//   templateDesign()          the design table: fixed pictures and which fields a design shows;
//   defaultWizardState()      every field's default for a design;
//   normaliseLinkAddress(), escapeHtmlText(), templateTargetName()  the field rules;
//   checkLinks(), checkTexts(), checkImages()  the checks of the three input pages, each giving the
//                             first failure's message and the field to put the focus on;
//   fillDefaultPictures()     the design's own image and logo for empty fields;
//   generateTemplatePage()    copies the pictures and writes the page;
//   templatePageHeader(), templateDesignHtml()  the two halves of the page.
//
// Every text field is HTML-escaped when it enters the page (not in the state), so going back and
// forth between the pages never escapes a text twice and the fields keep showing what was typed.
//
// Failure: checks return a WizardCheck (ok, or a message and a field); generation returns the
// messages to show one by one (missing pictures are skipped and reported) and, when the page
// itself cannot be written, written == false with the reason, so the caller never shows a stale
// file left at the target by an earlier run.
//
// Limits: a picture over 64 MiB is refused as unreadable; the header lists at most six pictures
// (image, logo, at most four fixed ones), so its count is always one digit.
//
// Threads: pure functions over the caller's state; generation touches only the target's folder.
//
// Standard: HTML 4 markup (tables, font tags), as mail readers render it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qm {

inline constexpr int kTemplateDesignCount = 8;
// The seventh thumbnail is shown but cannot be picked.
inline constexpr int kUnpickableDesign = 6;
inline constexpr int kMaxHighlights = 6;

struct TemplateDesign {
    std::vector<std::string_view> fixedPictures;  // copied from the data folder's "images"
    bool imageField = false;                      // the "image" picture is used
    bool logoField = false;
    bool link1Shown = true;
    bool link2Shown = true;
    bool twoDescriptions = false;  // First and Second description in place of Description
    bool headingShown = false;
    std::string_view defaultSalutation;
    bool salutationIsOffer = false;  // labelled "Template Offer"
};
// `index` 0 to 7; anything else is clamped.
const TemplateDesign& templateDesign(int index);

struct TemplateWizardState {
    int design = 0;
    std::string targetPath;  // the ".htm" file; its folder is the target folder
    std::string link1Text, link1Address, link2Text, link2Address, website;
    std::string description, firstDescription, secondDescription, heading, highlights, salutation;
    std::string imagePath;
    bool useImage = true;
    std::string logoPath;
    bool useLogo = true;
    // Full paths of the copied pictures, without repeats, in the order of copying.
    std::vector<std::string> pictures;
    bool insertIntoMessage = true;
};

// The design under a click on the "Select Template" board (thumbnails 70 x 75 in two columns at
// x 20 and 100, four rows at y 30, 110, 190, 270; a click counts one pixel inside the picture),
// or -1 for a click beside them and on the seventh thumbnail, which cannot be picked.
int templateAtClick(int x, int y);

// The defaults of every field for `design` (links, texts, salutation); no target, no pictures.
TemplateWizardState defaultWizardState(int design);
// Keeps the typed texts and sets the salutation that belongs to the new design when the old
// design's default is still in place.
void chooseDesign(TemplateWizardState& s, int design);

enum class WizardField {
    None,
    Link1Text,
    Link1Address,
    Link2Text,
    Link2Address,
    Website,
    Description,
    FirstDescription,
    SecondDescription,
    Heading,
    Highlights,
    Salutation,
    Image,
    Logo,
};

struct WizardCheck {
    WizardField field = WizardField::None;  // where the focus goes; None when the page passed
    std::string message;
    bool ok() const { return field == WizardField::None; }
};

// Lower-case "w", "\\\" made "\\", any "http://" or "http:\\" in the three spellings removed,
// every "\" made "/", and "http://" in front of a non-empty result.
std::string normaliseLinkAddress(std::string_view address);
// "&", "<", ">" and the double quote as character references: typed text stays text.
std::string escapeHtmlText(std::string_view text);
// ".htm" appended unless the name already ends in ".html" or ".htm" (exact case).
std::string templateTargetName(std::string_view name);
// The lines of the Highlights field as typed (CR LF or LF between them).
std::vector<std::string> highlightLines(std::string_view highlights);

// Trim the five fields, normalise the addresses (in `s`), then check them in order.
WizardCheck checkLinks(TemplateWizardState& s);
// Trim the six texts (in `s`), then check them in order.
WizardCheck checkTexts(TemplateWizardState& s);
WizardCheck checkImages(const TemplateWizardState& s);

// Empty image and logo fields get the design's own pictures from `dataFolder` + "/Images".
void fillDefaultPictures(TemplateWizardState& s, const std::string& dataFolder);

// The messages the generation shows, one by one, in this order.
inline constexpr std::string_view kMsgImageMissing = "Image file specified does not exists.";
inline constexpr std::string_view kMsgLogoMissing = "Logo file specified does not exists.";
inline constexpr std::string_view kMsgFixedPictureMissing =
    "This image provided by Quillmark has been deleted. You have to add it by yourself";

struct TemplateGeneration {
    bool written = false;               // the page file holds the new page
    std::vector<std::string> messages;  // missing or uncopyable pictures, in order
    std::string error;                  // why the page was not written
};
// Copies the pictures into the target folder's "Images" (created when missing), fills
// s.pictures and writes the page atomically. The target path is made absolute first, so the
// header names the pictures wherever the page is inserted from.
TemplateGeneration generateTemplatePage(TemplateWizardState& s, const std::string& dataFolder);
// The messages generateTemplatePage() would give for pictures it cannot read, in its order, without
// writing anything: the command line refuses before writing a page without its pictures.
std::vector<std::string> unreadableTemplatePictures(const TemplateWizardState& s,
                                                    const std::string& dataFolder);

// The comment header, CR LF line ends, for these picture paths.
std::string templatePageHeader(const std::vector<std::string>& pictures);
// The design's HTML filled from `s` (texts escaped, addresses as they stand).
std::string templateDesignHtml(const TemplateWizardState& s);

}  // namespace qm
