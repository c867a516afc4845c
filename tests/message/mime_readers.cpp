#include "mime_readers.h"

#include <gmime/gmime.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "support/temp_dir.h"

namespace qm::test {

namespace {

std::string unhex(const std::string& h) {
    if (h == "-") return {};
    std::string out;
    for (std::size_t i = 0; i + 1 < h.size(); i += 2)
        out += static_cast<char>(std::stoi(h.substr(i, 2), nullptr, 16));
    return out;
}

std::string str(const char* s) {
    return s ? s : "";
}

std::string withoutAngles(std::string s) {
    if (s.size() >= 2 && s.front() == '<' && s.back() == '>') s = s.substr(1, s.size() - 2);
    return s;
}

void walk(GMimeObject* obj, int depth, ReadMessage& out) {
    ReadPart p;
    p.depth = depth;
    GMimeContentType* ct = g_mime_object_get_content_type(obj);
    p.type = str(g_mime_content_type_get_media_type(ct)) + "/" +
             str(g_mime_content_type_get_media_subtype(ct));
    if (GMIME_IS_MULTIPART(obj)) {
        out.parts.push_back(p);
        auto* mp = GMIME_MULTIPART(obj);
        for (int i = 0; i < g_mime_multipart_get_count(mp); ++i)
            walk(g_mime_multipart_get_part(mp, i), depth + 1, out);
        return;
    }
    p.charset = str(g_mime_object_get_content_type_parameter(obj, "charset"));
    p.contentId = str(g_mime_object_get_content_id(obj));
    if (GMIME_IS_PART(obj)) {
        auto* part = GMIME_PART(obj);
        p.filename = str(g_mime_part_get_filename(part));
        if (GMimeDataWrapper* content = g_mime_part_get_content(part)) {
            GMimeStream* mem = g_mime_stream_mem_new();
            g_mime_data_wrapper_write_to_stream(content, mem);
            GByteArray* bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(mem));
            p.bytes.assign(reinterpret_cast<const char*>(bytes->data), bytes->len);
            g_object_unref(mem);
        }
    }
    out.parts.push_back(p);
}

}  // namespace

ReadMessage readWithPython(const std::string& dataText) {
    ReadMessage out;
    TempDir dir;
    dir.write("message.eml", dataText);
    std::string cmd = "/usr/bin/python3 " QM_TEST_SOURCE_DIR "/read_mime.py " +
                      dir.file("message.eml") + " > " + dir.file("read.txt") + " 2>&1";
    int rc = std::system(cmd.c_str());
    std::string text = dir.read("read.txt");
    if (rc != 0) {
        out.error = "python failed: " + text;
        return out;
    }
    std::istringstream lines(text);
    std::string kind;
    while (lines >> kind) {
        if (kind == "header") {
            std::string name, value;
            lines >> name >> value;
            value = unhex(value);
            if (name == "Subject") out.subject = value;
            if (name == "Message-ID") out.messageId = withoutAngles(value);
            if (name == "From-Name") out.fromName = value;
            if (name == "From-Address") out.fromAddress = value;
            if (name == "List-Unsubscribe") out.listUnsubscribe = value;
            if (name == "List-Unsubscribe-Post") out.listUnsubscribePost = value;
            if (name == "List-Id-Name") out.listIdName = value;
            if (name == "List-Id") out.listId = value;
        } else if (kind == "part") {
            ReadPart p;
            std::string cs, fn, cid, bytes;
            lines >> p.depth >> p.type >> cs >> fn >> cid >> bytes;
            p.charset = unhex(cs);
            p.filename = unhex(fn);
            p.contentId = withoutAngles(unhex(cid));
            p.bytes = unhex(bytes);
            out.parts.push_back(p);
        } else if (kind == "defect") {
            std::string d;
            lines >> d;
            out.defects.push_back(d);
        }
    }
    out.ok = true;
    return out;
}

ReadMessage readWithGMime(const std::string& dataText) {
    static const bool initialised = [] {
        g_mime_init();
        return true;
    }();
    (void)initialised;
    ReadMessage out;
    GMimeStream* stream = g_mime_stream_mem_new_with_buffer(dataText.data(), dataText.size());
    GMimeParser* parser = g_mime_parser_new_with_stream(stream);
    GMimeMessage* message = g_mime_parser_construct_message(parser, nullptr);
    if (!message) {
        out.error = "GMime could not read the message";
    } else {
        out.subject = str(g_mime_message_get_subject(message));
        out.messageId = str(g_mime_message_get_message_id(message));
        GMimeObject* object = GMIME_OBJECT(message);
        out.listUnsubscribe = str(g_mime_object_get_header(object, "List-Unsubscribe"));
        out.listUnsubscribePost = str(g_mime_object_get_header(object, "List-Unsubscribe-Post"));
        // "phrase <id>" has the shape of a mailbox: GMime's address parser decodes the phrase.
        if (const char* listId = g_mime_object_get_header(object, "List-Id")) {
            InternetAddressList* list = internet_address_list_parse(nullptr, listId);
            if (list && internet_address_list_length(list) > 0) {
                InternetAddress* a = internet_address_list_get_address(list, 0);
                out.listIdName = str(internet_address_get_name(a));
                if (INTERNET_ADDRESS_IS_MAILBOX(a))
                    out.listId =
                        str(internet_address_mailbox_get_addr(INTERNET_ADDRESS_MAILBOX(a)));
            }
            if (list) g_object_unref(list);
        }
        InternetAddressList* from = g_mime_message_get_from(message);
        if (from && internet_address_list_length(from) > 0) {
            InternetAddress* a = internet_address_list_get_address(from, 0);
            out.fromName = str(internet_address_get_name(a));
            if (INTERNET_ADDRESS_IS_MAILBOX(a))
                out.fromAddress =
                    str(internet_address_mailbox_get_addr(INTERNET_ADDRESS_MAILBOX(a)));
        }
        walk(g_mime_message_get_mime_part(message), 0, out);
        out.ok = true;
        g_object_unref(message);
    }
    g_object_unref(parser);
    g_object_unref(stream);
    return out;
}

}  // namespace qm::test
