#include "app/ImagePluginPreload.h"

#include <QBuffer>
#include <QImageReader>
#include <QThreadPool>

void preloadImageFormatPlugins() {
    QThreadPool::globalInstance()->start([] {
        // No data is needed: asking for a reader of a named format consults every plugin.
        QBuffer empty;
        empty.open(QIODevice::ReadOnly);
        QImageReader reader(&empty, QByteArrayLiteral("png"));
        (void)reader.canRead();  // an empty buffer holds no image; only the loading matters
    });
}
