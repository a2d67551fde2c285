// Text of table files: the code page a dBASE language driver byte or a Paradox header names, and
// decoding its bytes to Unicode (single-byte pages from our own tables, others through Qt).
#pragma once

#include <QString>

#include <string>

namespace lw::data {

// The characters of bytes 128 to 255 of a single-byte code page, or nullptr when it has none here.
const char16_t* singleByteTable(int codePage);

// The code page a dBASE language driver byte names; 0 when the byte names none we know.
int codePageOfLanguageDriver(unsigned char driver);

// Code page 65001: UTF-8.
constexpr int utf8CodePage = 65001;

// Whether the bytes are valid UTF-8; multiByte is set when they hold a character of more than one
// byte. A sequence cut short by the end of the bytes counts as valid (fields are cut by bytes).
bool validUtf8(const char* bytes, qsizetype length, bool& multiByte);

// Decodes the text of one code page (or UTF-8). Unknown code pages decode as 1252.
class TextDecoder {
public:
    explicit TextDecoder(int codePage = 1252);
    int codePage() const { return m_codePage; }
    // Whether the code page asked for is the one used (false when it fell back to 1252).
    bool known() const { return m_known; }

    // Replaces out with the text of the bytes, reusing out's storage when it can.
    void decode(const char* bytes, qsizetype length, QString& out) const;
    // Appends the UTF-8 form of the bytes to out (cleared first).
    void decodeUtf8(const char* bytes, qsizetype length, std::string& out) const;

private:
    int m_codePage = 1252;
    bool m_known = true;
    bool m_utf8 = false;
    const char16_t* m_high = nullptr; // single-byte pages
    QByteArray m_decoderName;         // multi-byte pages (through QStringDecoder)
};

} // namespace lw::data
