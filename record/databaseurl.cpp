#include "record/databaseurl.h"

#include <QUrl>

QString DatabaseUrl::shown(const QString &url)
{
    QUrl read(url);
    if (read.isValid() && !read.password().isEmpty()) {
        read.setPassword(QString());
        return read.toString();
    }
    return url;
}
