#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// Damaged and unusual page files, made at run time, each with the verdict every page
// reader must give it: whole files (also with bytes after their end) load; files cut
// short, damaged, beyond the page limits or of other formats are refused.
namespace HostilePages {

struct Page {
    QString name; // also a file name: letters, digits and dashes, with the format's extension
    QByteArray bytes;
    bool loads = false;
    QString reason; // for a refused page: words its error message holds
};

QList<Page> all();

} // namespace HostilePages
