#include "core/base/Result.h"

#include <cstring>

Error Error::system(int errorNumber, const QString& what) {
    return {Kind::System,
            QStringLiteral("%1: %2.").arg(what, QString::fromLocal8Bit(std::strerror(errorNumber))),
            errorNumber};
}
