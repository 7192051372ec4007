#include "batch/BatchOptions.h"

#include "imaging/Straighten.h"

#include <QLocale>

#include <cmath>

namespace {

// "a,b,c,d" as four numbers in the C locale (a decimal point, never a comma).
bool fourNumbers(const QString& text, double values[4]) {
    const QStringList parts = text.split(QLatin1Char(','));
    if (parts.size() != 4)
        return false;
    const QLocale c = QLocale::c();
    for (int i = 0; i < 4; ++i) {
        bool ok = false;
        values[i] = c.toDouble(parts.at(i).trimmed(), &ok);
        if (!ok || !std::isfinite(values[i]) || std::abs(values[i]) > 1e6)
            return false;
    }
    return true;
}

bool isWhole(double v) {
    return v == std::floor(v);
}

} // namespace

namespace BatchArguments {

QString usage() {
    return QStringLiteral(
        "Uso: vetra-batch --kind foto|firma|adr [--rotate 90|180|270] [--mirror h|v]\n"
        "                 [--straighten GRADI] (--rect X,Y,L,A | --frame S,A,L,H | --auto)\n"
        "                 INGRESSO USCITA\n"
        "\n"
        "Ritaglia la pagina INGRESSO e salva il JPEG del tipo scelto in USCITA\n"
        "(dimensioni del tipo, 300 dpi, la qualità più alta entro il limite di byte).\n"
        "  --kind foto|firma|adr   foto 400x480 (34.900 byte), firma 375x72 (19.900 byte),\n"
        "                          foto ADR-CQC 400x400 (9.900 byte)\n"
        "  --rotate 90|180|270     rotazione in senso orario, applicata per prima\n"
        "  --mirror h|v            specchio orizzontale o verticale, dopo la rotazione\n"
        "  --straighten GRADI      raddrizza la pagina ruotata e specchiata di GRADI (da -10\n"
        "                          a 10, anche decimali col punto), in senso orario se positivi\n"
        "  --rect X,Y,L,A          rettangolo in pixel della pagina ruotata e specchiata\n"
        "  --frame S,A,L,H         riquadro in pixel dell'area di lavoro (425x585) come nella\n"
        "                          finestra: sinistra, alto, larghezza, altezza\n"
        "  --auto                  trova da sé la fotografia (o la firma) e il verso della\n"
        "                          pagina, e stampa anche turn=ROTAZIONE straighten=GRADI\n"
        "                          rect=X,Y,L,A\n"
        "  --check                 (foto, adr) controlla se la foto è conforme a quella di un\n"
        "                          documento e stampa check=ok o i controlli non superati,\n"
        "                          un motivo per riga sull'errore standard\n"
        "  --strict                come --check, ed esce con 9 se un controllo fallisce\n"
        "Se INGRESSO è una cartella, ogni immagine che contiene viene elaborata con le stesse\n"
        "opzioni e salvata in USCITA (una cartella) con lo stesso nome ed estensione .jpg.\n"
        "Codici di uscita: 0 riuscito, 1 alcuni file della cartella non riusciti, 2 opzioni\n"
        "errate, 3 immagine illeggibile, 4 limite di byte irraggiungibile, 5 codifica JPEG\n"
        "non riuscita, 6 scrittura non riuscita, 7 (--auto) fotografia o firma non trovata,\n"
        "8 (--auto, --check) modulo di ricerca mancante o danneggiato, 9 (--strict) foto\n"
        "salvata ma non conforme.\n");
}

bool parse(const QStringList& arguments, BatchOptions* options, QString* error) {
    BatchOptions o;
    bool kindSeen = false;
    bool rotateSeen = false;
    bool mirrorSeen = false;
    bool straightenSeen = false;
    bool areaSeen = false;
    QStringList positional;
    const auto fail = [error](const QString& why) {
        *error = why;
        return false;
    };

    for (int i = 0; i < arguments.size(); ++i) {
        QString name = arguments.at(i);
        if (name == QLatin1String("-h") || name == QLatin1String("--help")) {
            options->help = true;
            return true;
        }
        if (name == QLatin1String("--")) {
            positional += arguments.mid(i + 1);
            break;
        }
        if (!name.startsWith(QLatin1String("--")) || name.size() == 2) {
            positional << name;
            continue;
        }
        if (name == QLatin1String("--auto")) {
            if (areaSeen)
                return fail(QStringLiteral("indicare una sola volta --rect, --frame oppure --auto"));
            areaSeen = true;
            o.area = BatchOptions::Area::Auto;
            continue;
        }
        if (name == QLatin1String("--check") || name == QLatin1String("--strict")) {
            o.check = true;
            o.strict |= name == QLatin1String("--strict");
            continue;
        }
        QString value;
        const qsizetype equals = name.indexOf(QLatin1Char('='));
        if (equals >= 0) {
            value = name.mid(equals + 1);
            name.truncate(equals);
        } else if (i + 1 < arguments.size()) {
            value = arguments.at(++i);
        } else {
            return fail(QStringLiteral("manca il valore dell'opzione %1").arg(name));
        }

        if (name == QLatin1String("--kind")) {
            if (kindSeen)
                return fail(QStringLiteral("--kind ripetuta"));
            kindSeen = true;
            if (value == QLatin1String("foto"))
                o.kind = OutputKind::Foto;
            else if (value == QLatin1String("firma"))
                o.kind = OutputKind::Firma;
            else if (value == QLatin1String("adr"))
                o.kind = OutputKind::AdrCqc;
            else
                return fail(QStringLiteral("tipo sconosciuto \"%1\": usare foto, firma o adr").arg(value));
        } else if (name == QLatin1String("--rotate")) {
            if (rotateSeen)
                return fail(QStringLiteral("--rotate ripetuta"));
            rotateSeen = true;
            bool ok = false;
            o.transform.rotation = value.toInt(&ok);
            if (!ok || !o.transform.isValid())
                return fail(QStringLiteral("rotazione non valida \"%1\": usare 90, 180 o 270").arg(value));
        } else if (name == QLatin1String("--mirror")) {
            if (mirrorSeen)
                return fail(QStringLiteral("--mirror ripetuta"));
            mirrorSeen = true;
            if (value == QLatin1String("h"))
                o.transform.mirror = PageTransform::Mirror::Horizontal;
            else if (value == QLatin1String("v"))
                o.transform.mirror = PageTransform::Mirror::Vertical;
            else
                return fail(QStringLiteral("specchio non valido \"%1\": usare h o v").arg(value));
        } else if (name == QLatin1String("--straighten")) {
            if (straightenSeen)
                return fail(QStringLiteral("--straighten ripetuta"));
            straightenSeen = true;
            bool ok = false;
            const double degrees = QLocale::c().toDouble(value.trimmed(), &ok);
            if (!ok || !std::isfinite(degrees) || std::abs(degrees) > Straighten::kMaxDegrees)
                return fail(QStringLiteral("inclinazione non valida \"%1\": usare un numero di gradi "
                                           "da -10 a 10, col punto decimale")
                                .arg(value));
            o.straighten = degrees + 0.0; // -0 prints and turns as 0
        } else if (name == QLatin1String("--rect") || name == QLatin1String("--frame")) {
            if (areaSeen)
                return fail(QStringLiteral("indicare una sola volta --rect, --frame oppure --auto"));
            areaSeen = true;
            double v[4];
            const bool rect = name == QLatin1String("--rect");
            if (!fourNumbers(value, v))
                return fail(QStringLiteral("%1 vuole quattro numeri separati da virgole, non \"%2\"")
                                .arg(name, value));
            if (v[2] <= 0 || v[3] <= 0)
                return fail(QStringLiteral("%1: larghezza e altezza devono essere positive").arg(name));
            if (rect) {
                if (!isWhole(v[0]) || !isWhole(v[1]) || !isWhole(v[2]) || !isWhole(v[3]))
                    return fail(QStringLiteral("--rect vuole pixel interi, non \"%1\"").arg(value));
                o.area = BatchOptions::Area::Rect;
                o.rect = QRect(int(v[0]), int(v[1]), int(v[2]), int(v[3]));
            } else {
                o.area = BatchOptions::Area::Frame;
                o.frame = FrameRect{float(v[0]), float(v[1]), float(v[2]), float(v[3])};
            }
        } else {
            return fail(QStringLiteral("opzione sconosciuta %1").arg(name));
        }
    }

    if (!kindSeen)
        return fail(QStringLiteral("manca --kind foto|firma|adr"));
    if (!areaSeen)
        return fail(QStringLiteral("manca --rect X,Y,L,A, --frame S,A,L,H oppure --auto"));
    // The locator decides the turn; a turn or mirror given by hand would contradict it.
    if (o.area == BatchOptions::Area::Auto && (rotateSeen || mirrorSeen || straightenSeen))
        return fail(QStringLiteral(
            "--auto sceglie da sé il verso della pagina: togliere --rotate, --mirror e --straighten"));
    if (o.check && o.kind == OutputKind::Firma)
        return fail(QStringLiteral("--check e --strict valgono per le foto (foto, adr), non per la firma"));
    if (positional.size() != 2)
        return fail(
            QStringLiteral("servono un INGRESSO e un'USCITA (trovati %1 nomi)").arg(positional.size()));
    o.input = positional.at(0);
    o.output = positional.at(1);
    if (o.input.isEmpty() || o.output.isEmpty())
        return fail(QStringLiteral("nome di file vuoto"));
    *options = o;
    return true;
}

} // namespace BatchArguments
