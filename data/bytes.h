// Little-endian numbers read from the bytes of a table file's header and records, for the dBASE
// and Paradox readers alike.
#pragma once

#include <QtGlobal>

namespace lw::data {

inline quint16 le16(const unsigned char* p) {
    return quint16(p[0] | (p[1] << 8));
}
inline quint32 le32(const unsigned char* p) {
    return quint32(p[0]) | (quint32(p[1]) << 8) | (quint32(p[2]) << 16) | (quint32(p[3]) << 24);
}

} // namespace lw::data
