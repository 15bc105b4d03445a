// SPDX-License-Identifier: MIT
// Writes the Wireshark dissector: its template with the chip's stored items
// in words and the background tunes filled in from the catalog, so that the
// dissector names them exactly as the window's log does.
//
//   vorla_dissector TEMPLATE OUTPUT
#include <cstdio>

#include <QFile>
#include <QStringList>

#include "protocol/catalog.h"
#include "protocol/frame_words.h"

namespace {
QString Quoted(const QString& s) {
    QString q = s;
    q.replace(u'\\', QStringLiteral("\\\\")).replace(u'"', QStringLiteral("\\\""));
    return u'"' + q + u'"';
}

// The catalog as Lua tables: items[base][index] (index from 0) and tunes[0..7].
QString CatalogTables() {
    using vorla::ItemKind;
    QStringList lines{QStringLiteral("local items = {")};
    for (const ItemKind kind : {ItemKind::Phrase, ItemKind::Music, ItemKind::Sound, ItemKind::Poem}) {
        QStringList words;
        for (int i = 0; i < vorla::StoredItems(kind).size(); ++i) words << Quoted(vorla::StoredItemWords(kind, i));
        lines << QStringLiteral("  [0x%1] = {[0] = %2},").arg(vorla::ItemBase(kind), 2, 16).arg(words.join(u", "));
    }
    lines << QStringLiteral("}");
    QStringList tunes;
    for (const QString& name : vorla::TuneNames()) tunes << Quoted(name);
    lines << QStringLiteral("local tunes = {[0] = %1}").arg(tunes.join(u", "));
    return lines.join(u'\n');
}
}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: vorla_dissector TEMPLATE OUTPUT\n");
        return 2;
    }
    QFile in(QString::fromLocal8Bit(argv[1]));
    QFile out(QString::fromLocal8Bit(argv[2]));
    if (!in.open(QIODevice::ReadOnly) || !out.open(QIODevice::WriteOnly)) {
        std::fprintf(stderr, "vorla_dissector: cannot read %s or write %s\n", argv[1], argv[2]);
        return 1;
    }
    QString text = QString::fromUtf8(in.readAll());
    text.replace(QStringLiteral("-- @CATALOG@"), CatalogTables());
    return out.write(text.toUtf8()) >= 0 ? 0 : 1;
}
