#include "tests/support/PdfText.h"

#include <cctype>

#include <QProcess>
#include <QStringList>

namespace {

std::string Output(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(60000) || process.exitCode() != 0)
        return std::string();
    return process.readAllStandardOutput().toStdString();
}

} // namespace

std::string PdfText(const std::string& pdf, int page, bool layout)
{
    QStringList arguments;
    if (layout)
        arguments << "-layout";
    if (page > 0)
        arguments << "-f" << QString::number(page) << "-l" << QString::number(page);
    arguments << QString::fromStdString(pdf) << "-";
    return Output("pdftotext", arguments);
}

std::string PdfInfo(const std::string& pdf, const std::string& field)
{
    const std::string info = Output("pdfinfo", {QString::fromStdString(pdf)});
    const std::string key = field + ":";
    std::size_t at = info.find("\n" + key);
    at = info.compare(0, key.size(), key) == 0 ? 0 : (at == std::string::npos ? at : at + 1);
    if (at == std::string::npos)
        return std::string();
    std::size_t begin = info.find_first_not_of(' ', at + key.size());
    return info.substr(begin, info.find('\n', begin) - begin);
}

std::string Squeezed(const std::string& text)
{
    std::string squeezed;
    for (char c : text)
        if (!std::isspace(static_cast<unsigned char>(c)))
            squeezed += c;
    return squeezed;
}
