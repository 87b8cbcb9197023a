#pragma once

#include <QByteArrayView>

#include <vector>

// Decodes the base64 text of a binary array into out (replacing its content).
// XML white space anywhere in the text is ignored; the final group may leave
// out its "=" padding. Returns false for any other character, misplaced
// padding or a dangling single character; out is then unspecified.
bool DecodeBase64(QByteArrayView text, std::vector<unsigned char> &out);
