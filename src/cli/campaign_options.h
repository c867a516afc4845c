// Options shared by the commands that make a campaign message (message build, send,
// test-campaign) and by those that deliver one (send, test-campaign).
//
// Entry points: how the options are declared on the command line, and how they become a checked
// CampaignMessage and DeliverySettings.
// Failure: a check that fails gives the system's message for the caller to print (exit 1).
// Limits: none beyond the message's own.
// Threads: the command-line thread only.
// Standard: none.
#pragma once

#include <CLI/CLI.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "delivery/delivery_settings.h"
#include "message/campaign_message.h"
#include "message/mail_shape.h"

namespace qm::cli {

// --profile, --text-part, --list-id, --footer-markup and --unsubscribe-url: over the stored
// choices (message/mail_shape.h). --profile sets each option it decides (delivery/sender_profile.h)
// for this run, and an option given on its own goes over the profile.
struct ShapeOptions {
    std::string profile;       // "current" or "as-specified"; empty: the stored options
    std::string textPart;      // "source" or "readable"; empty: the stored choice
    std::string listId;        // "y" or "n"
    std::string footerMarkup;  // "classic" or "lower"
    std::string unsubscribeUrl;
    CLI::Option* url = nullptr;
};

// Declares both; --unsubscribe-url needs `unsubscribe` when given.
void addShapeOptions(CLI::App* command, ShapeOptions& o, CLI::Option* unsubscribe);
// The stored choices with the command line's over them. False with the text to show when the URL
// given is not a usable https template.
bool resolveShape(const ShapeOptions& o, MailShape& out, std::string& error);

struct MessageOptions {
    std::string fromName, from, subject, htmlFile, textFile, unsubscribe;
    std::string scope = "single";
    std::vector<std::string> attach;
    bool dynamic = false;
    CLI::Option* html = nullptr;
    CLI::Option* text = nullptr;
    CLI::Option* unsubscribeOption = nullptr;
    ShapeOptions shape;  // declared by the commands that send or build (addShapeOptions)
};

void addMessageOptions(CLI::App* command, MessageOptions& o);
// True when exactly one of --html and --text was given.
bool bodyChosen(const MessageOptions& o);

// Fills `m` from the options: reads the body and the attachments, checks the unsubscribe address
// and takes the text-part choice and unsubscribe URL (resolveShape()), but runs no message check (a
// run's check is buildRunRequest()'s). False with the text to show.
bool fillMessage(const MessageOptions& o, CampaignMessage& m, std::string& error);
// fillMessage(), the message check without a delivery step, and the inline pictures: a message
// ready to build. False with the text to show.
bool prepareMessage(const MessageOptions& o, CampaignMessage& m, std::string& error);
// The answer to the empty-message question on a terminal: yes, said on stderr.
bool confirmOnStderr(std::string_view question);

struct DeliveryOptions {
    std::string server, security, verifyCert, user, passwordEnv, oauthCommand;
    std::string mxOrder;
    int port = 0;
    bool mx = false;
    int threads = 1;
    int wait = 0;
    int perConnection = 0;  // 0: the stored "Messages per connection"
    std::string rate;       // "N/min", "N/h" or "0"; empty keeps the stored pace
};

// --server --port --security --verify-cert --user --password-env --oauth-command.
void addRelayOptions(CLI::App* command, DeliveryOptions& o);
// --mx-order answer|preference.
void addMxOrderOption(CLI::App* command, DeliveryOptions& o);
// The exchanger order of --profile unless --mx-order was given.
void applyProfileOrder(const ShapeOptions& shape, const DeliveryOptions& o, DeliverySettings& d);
// The relay options, --mx, --mx-order, --threads, --wait, --per-connection and --rate.
void addDeliveryOptions(CLI::App* command, DeliveryOptions& o);
// A delivery is asked for: --server, --mx, or a stored choice (Quillsetup or the window store an
// empty server for MX). A fresh settings file would otherwise mean MX, that is mail straight to
// the world; the command line does that only when told. False with the text to show.
bool deliveryChosen(const DeliveryOptions& o, std::string& error);
// The stored delivery settings with the command line's choices over them.
bool resolveDelivery(const DeliveryOptions& o, DeliverySettings& out, std::string& error);

}  // namespace qm::cli
