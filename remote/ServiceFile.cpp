#include "remote/ServiceFile.h"

#include <cstdint>

namespace {
// Length of the valid UTF-8 sequence at text[i], or 0 when the byte there does not start one.
size_t utf8Length(const std::string& text, size_t i) {
    auto byte = [&](size_t k) { return uint8_t(text[k]); };
    uint8_t lead = byte(i);
    size_t length;
    uint32_t minimum;
    if (lead < 0x80) return 1;
    if ((lead & 0xE0) == 0xC0) length = 2, minimum = 0x80;
    else if ((lead & 0xF0) == 0xE0) length = 3, minimum = 0x800;
    else if ((lead & 0xF8) == 0xF0) length = 4, minimum = 0x10000;
    else return 0;
    if (i + length > text.size()) return 0;
    uint32_t code = lead & (0x7F >> length);
    for (size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) return 0;
        code = (code << 6) | (byte(i + k) & 0x3F);
    }
    if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
    return length;
}
}

std::string ServiceFile::xmlText(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size();) {
        size_t length = utf8Length(text, i);
        if (length == 0) {
            uint8_t latin1 = uint8_t(text[i]);
            out += char(0xC0 | (latin1 >> 6));
            out += char(0x80 | (latin1 & 0x3F));
            ++i;
            continue;
        }
        if (length > 1) {
            out.append(text, i, length);
            i += length;
            continue;
        }
        char c = text[i++];
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&apos;";
            break;
        case '\t':
            out += "&#9;";
            break;
        case '\n':
            out += "&#10;";
            break;
        case '\r':
            out += "&#13;";
            break;
        default:
            if (uint8_t(c) < 0x20) out += "\xEF\xBF\xBD";
            else out += c;
        }
    }
    return out;
}

std::string ServiceFile::hereDocumentText(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\\' || c == '$' || c == '`') out += '\\';
        out += c;
    }
    return out;
}

std::string ServiceFile::command(const std::string& identifier, int port, const std::string& mac,
                                 const std::string& name) {
    auto safe = [](const std::string& text) { return hereDocumentText(xmlText(text)); };
    return "sudo tee /etc/avahi/services/http.service > /dev/null <<EOF\n"
           "<?xml version=\"1.0\" standalone='no'?>\n"
           "<!DOCTYPE service-group SYSTEM \"avahi-service.dtd\">\n"
           "<service-group>\n"
           "  <name replace-wildcards=\"yes\">zembo" +
           safe(identifier) +
           "</name>\n"
           "  <service>\n"
           "    <type>_http._tcp</type>\n"
           "    <port>" +
           std::to_string(port) +
           "</port>\n"
           "    <txt-record>id=zembo</txt-record>\n"
           "    <txt-record>MAC=" +
           safe(mac) +
           "</txt-record>\n"
           "    <txt-record>name=" +
           safe(name) +
           "</txt-record>\n"
           "  </service>\n"
           "</service-group>\n"
           "EOF";
}
