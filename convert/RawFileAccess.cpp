#include "RawFileAccess.h"

#include "Errors.h"

using namespace Qt::Literals::StringLiterals;

namespace {

std::unique_ptr<RawFileDocument> NoComponentInstalled()
{
    throw Error(ErrorNumber::CannotCreateObject,
                u"No raw-file access component is installed."_s);
}

} // namespace

Seam<std::unique_ptr<RawFileDocument>()> CreateRawFileDocument{NoComponentInstalled};
