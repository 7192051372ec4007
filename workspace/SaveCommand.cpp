#include "workspace/SaveCommand.h"

#include "encode/GPP2J.h"
#include "encode/QualitySearch.h"

#include <QDir>
#include <QFileInfo>
#include <QLocale>

namespace {

QString bytesText(qint64 bytes) {
    return QLocale(QLocale::Italian, QLocale::Italy).toString(bytes);
}

} // namespace

Prompts::FileRequest SaveCommand::dialogRequest(OutputKind kind, const QString& folder) {
    Prompts::FileRequest request;
    request.title = QStringLiteral("Salva con nome");
    request.filters = QStringList{QStringLiteral("JPG (*.JPG *.jpg)")};
    request.filterIndex = 1;
    request.defaultSuffix = QStringLiteral("jpg");
    request.fileName = QString::fromLatin1(outputKindInfo(kind).defaultFileName);
    if (!folder.isEmpty())
        request.fileName = QDir(folder).filePath(request.fileName);
    request.confirmOverwrite = true;
    return request;
}

QString SaveCommand::withJpegExtension(const QString& fileName) {
    if (fileName.isEmpty() || !QFileInfo(fileName).suffix().isEmpty())
        return fileName;
    // "foto." has an empty extension too: complete it without doubling the dot.
    return fileName + (fileName.endsWith(QLatin1Char('.')) ? QStringLiteral("jpg") : QStringLiteral(".jpg"));
}

SaveCommand::Encoded SaveCommand::encode(OutputKind kind, const QImage& previewImage) {
    GPP2J writer;
    Encoded encoded;
    encoded.found = QualitySearch::run(writer, previewImage, outputKindInfo(kind).sizeLimit, kDpi, kDpi);
    if (encoded.found.status == QualitySearch::Status::EncodeFailed)
        encoded.error = writer.lastError();
    return encoded;
}

QString SaveCommand::readoutText(OutputKind kind, const Encoded& encoded) {
    const qint64 limit = outputKindInfo(kind).sizeLimit;
    switch (encoded.found.status) {
    case QualitySearch::Status::Found:
        return QStringLiteral("Qualità %1 · %2 byte (limite %3)")
            .arg(encoded.found.quality)
            .arg(bytesText(encoded.found.bytes.size()), bytesText(limit));
    case QualitySearch::Status::LimitUnreachable:
        return QStringLiteral("Non salvabile: supera il limite di %1 byte anche alla qualità minima")
            .arg(bytesText(limit));
    case QualitySearch::Status::EncodeFailed:
        return QStringLiteral("Non salvabile: %1").arg(encoded.error);
    }
    return QString();
}

SaveCommand::Report SaveCommand::run(Prompts& prompts, OutputKind kind, const QImage& previewImage,
                                     bool previewVisible, const Encoded* known, const QString& folder) {
    const OutputKindInfo& info = outputKindInfo(kind);
    Report report;

    const std::optional<QString> chosen = prompts.saveFile(dialogRequest(kind, folder));
    // The photo commands ask for the name first and only then look at their preview.
    if (checksPreviewVisibility(kind) && !previewVisible) {
        report.outcome = Outcome::PreviewHidden;
        return report;
    }
    if (!chosen || chosen->isEmpty()) {
        report.outcome = Outcome::Cancelled;
        return report;
    }

    report.fileName = withJpegExtension(*chosen);
    // The dialog confirmed the name it returned; a name we completed needs its own question.
    if (report.fileName != *chosen && QFileInfo::exists(report.fileName)) {
        const QString question =
            QStringLiteral("%1 esiste già.\nSostituirlo?").arg(QDir::toNativeSeparators(report.fileName));
        if (prompts.message(question, Prompts::Buttons::YesNo) != Prompts::Answer::Yes) {
            report.outcome = Outcome::ReplaceDeclined;
            return report;
        }
    }

    const Encoded encoded = known ? *known : encode(kind, previewImage);
    const QualitySearch::Result& found = encoded.found;
    switch (found.status) {
    case QualitySearch::Status::LimitUnreachable:
        prompts.message(QStringLiteral("Impossibile salvare l'immagine entro il limite di %1 byte, "
                                       "nemmeno alla qualità minima.\nIl file non è stato scritto.")
                            .arg(bytesText(info.sizeLimit)));
        report.outcome = Outcome::LimitUnreachable;
        return report;
    case QualitySearch::Status::EncodeFailed:
        prompts.message(
            QStringLiteral("Impossibile creare l'immagine JPEG: %1.\nIl file non è stato scritto.")
                .arg(encoded.error));
        report.outcome = Outcome::EncodeFailed;
        return report;
    case QualitySearch::Status::Found:
        break;
    }

    GPP2J writer;
    if (!writer.writeFile(found.bytes, report.fileName)) {
        prompts.message(QStringLiteral("Impossibile salvare il file %1.\nMotivo: %2")
                            .arg(QDir::toNativeSeparators(report.fileName), writer.lastError()));
        report.outcome = Outcome::WriteFailed;
        return report;
    }
    report.outcome = Outcome::Saved;
    report.quality = found.quality;
    report.size = found.bytes.size();
    return report;
}
