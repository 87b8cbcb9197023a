#include "RawFileAccess.h"

#include "MzmlDocument.h"

Seam<std::unique_ptr<RawFileDocument>()> CreateRawFileDocument{CreateMzmlDocument};
