#include "convert/RawFileAccess.h"

#include "convert/Errors.h"

using namespace Qt::Literals::StringLiterals;

Seam<std::unique_ptr<RawFileDocument>()> CreateRawFileDocument{[]() -> std::unique_ptr<RawFileDocument> {
    throw Error(ErrorNumber::CannotCreateObject, u"No raw-file access component is installed."_s);
}};

Seam<QStringList(const QString &)> FilesReadFor{[](const QString &rawPath) { return QStringList{rawPath}; }};
