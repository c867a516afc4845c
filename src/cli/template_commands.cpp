// template generate: the template wizard from a terminal. Every field starts at the wizard's
// default, so "--design N --out FILE" alone makes a page; each option replaces one field. The
// same checks run as in the wizard, in its order, and the first failure's message ends the
// command with exit code 1. Prints the page's path and the pictures copied beside it.
//
// All eight designs can be made here, the seventh too (the wizard's thumbnail for it does not
// take a click).
#include <iostream>
#include <optional>

#include "cli/commands.h"
#include "config/data_folder.h"
#include "message/template_wizard.h"

namespace qm::cli {

namespace {

struct TemplateOptionsCli {
    int design = 1;
    std::string out, dataFolder;
    std::optional<std::string> link1Text, link1Address, link2Text, link2Address, website;
    std::optional<std::string> description, firstDescription, secondDescription, heading,
        salutation;
    std::vector<std::string> highlights;
    std::string image, logo;
    bool noImage = false, noLogo = false;
};

int runGenerate(const TemplateOptionsCli& o) {
    TemplateWizardState s = defaultWizardState(o.design - 1);
    s.targetPath = templateTargetName(o.out);
    auto take = [](std::string& field, const std::optional<std::string>& given) {
        if (given) field = *given;
    };
    take(s.link1Text, o.link1Text);
    take(s.link1Address, o.link1Address);
    take(s.link2Text, o.link2Text);
    take(s.link2Address, o.link2Address);
    take(s.website, o.website);
    take(s.description, o.description);
    take(s.firstDescription, o.firstDescription);
    take(s.secondDescription, o.secondDescription);
    take(s.heading, o.heading);
    take(s.salutation, o.salutation);
    if (!o.highlights.empty()) {
        s.highlights.clear();
        for (const std::string& line : o.highlights)
            s.highlights += (s.highlights.empty() ? "" : "\r\n") + line;
    }
    s.imagePath = o.image;
    s.logoPath = o.logo;
    s.useImage = !o.noImage;
    s.useLogo = !o.noLogo;

    for (WizardCheck check : {checkLinks(s), checkTexts(s)})
        if (!check.ok()) return fail(check.message);
    const std::string data = o.dataFolder.empty() ? installedDataFolder() : o.dataFolder;
    fillDefaultPictures(s, data);
    if (WizardCheck check = checkImages(s); !check.ok()) return fail(check.message);
    // The window writes the page and names the missing pictures; a script would take the exit code
    // 0 for a finished page, so the command line writes nothing then.
    if (auto missing = unreadableTemplatePictures(s, data); !missing.empty()) {
        for (const std::string& message : missing) std::cerr << message << "\n";
        return fail("No page was written.");
    }

    TemplateGeneration g = generateTemplatePage(s, data);
    for (const std::string& message : g.messages) std::cerr << message << "\n";
    if (!g.written) return fail(g.error);
    std::cout << "page: " << s.targetPath << "\n";
    for (const std::string& picture : s.pictures) std::cout << "picture: " << picture << "\n";
    return kExitOk;
}

}  // namespace

void addTemplateCommands(CLI::App& app, int& exitCode) {
    auto* tpl = app.add_subcommand("template", "HTML mail pages from the eight template designs");
    tpl->require_subcommand(1);
    auto o = std::make_shared<TemplateOptionsCli>();
    auto* gen = tpl->add_subcommand(
        "generate", "Write a template page and copy its pictures into an Images folder beside it");
    gen->add_option("--design", o->design, "Design 1 to 8, as the wizard's thumbnails number them")
        ->required()
        ->check(CLI::Range(1, kTemplateDesignCount));
    gen->add_option("--out", o->out,
                    "The page file (\".htm\" is added unless it ends in .htm or "
                    ".html)")
        ->required();
    gen->add_option("--link1-text", o->link1Text);
    gen->add_option("--link1-address", o->link1Address);
    gen->add_option("--link2-text", o->link2Text);
    gen->add_option("--link2-address", o->link2Address);
    gen->add_option("--website", o->website, "Website address");
    gen->add_option("--description", o->description);
    gen->add_option("--first-description", o->firstDescription);
    gen->add_option("--second-description", o->secondDescription);
    gen->add_option("--heading", o->heading);
    gen->add_option("--highlight", o->highlights,
                    "One highlight line; repeat for more (at most 6)");
    gen->add_option("--salutation", o->salutation,
                    "Salutation (\"Template Offer\" of designs 6-8)");
    gen->add_option("--image", o->image, "The image picture (default: the design's own)");
    gen->add_option("--logo", o->logo, "The logo picture (default: the design's own)");
    gen->add_flag("--no-image", o->noImage, "Leave the image out");
    gen->add_flag("--no-logo", o->noLogo, "Leave the logo out");
    gen->add_option("--data", o->dataFolder,
                    "Folder holding images/ and Images/ (default: the installed pictures)");
    gen->callback([&exitCode, o] { exitCode = runGenerate(*o); });
}

}  // namespace qm::cli
