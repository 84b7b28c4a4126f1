#include "TestEnv.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <iostream>

// Detection on files that nobody here wrote: office documents made by
// LibreOffice and images shipped on the system, compared with what
// `file --mime-type` says about the same files.
namespace {

// `file`'s media type -> the label the detector gives for that format.
const QMap<QString, QString> kLabelOfMime = {
    {"application/pdf", "pdf"},
    {"application/msword", "doc"},
    {"application/vnd.ms-excel", "xls"},
    {"application/vnd.ms-powerpoint", "ppt"},
    {"application/vnd.openxmlformats-officedocument.wordprocessingml.document", "docx"},
    {"application/vnd.openxmlformats-officedocument.spreadsheetml.sheet", "xlsx"},
    {"application/vnd.openxmlformats-officedocument.presentationml.presentation", "pptx"},
    {"application/vnd.oasis.opendocument.text", "odt"},
    {"text/rtf", "rtf"},
    {"image/png", "png"},
    {"image/gif", "gif"},
    {"image/jpeg", "jpg"},
    {"audio/mpeg", "mp3"},
};

QString cliPath()
{
    // The test runs from <build>/tests; DH_BINARY_DIR names <build> when set.
    QString dir = dh::test::binaryDir();
    if (dir.isEmpty())
        dir = QCoreApplication::applicationDirPath() + QStringLiteral("/..");
    return QDir(dir).absoluteFilePath(QStringLiteral("docharvest-cli"));
}

QStringList runLines(const QString& program, const QStringList& args, int timeoutMs = 60000)
{
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(timeoutMs) || p.exitStatus() != QProcess::NormalExit) {
        ADD_FAILURE() << program.toStdString() << " did not finish";
        return {};
    }
    EXPECT_EQ(p.exitCode(), 0) << program.toStdString() << ": " << p.readAllStandardError().toStdString();
    QStringList lines = QString::fromUtf8(p.readAllStandardOutput()).split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

// path -> label, from one `docharvest-cli identify` run.
QMap<QString, QString> identify(const QStringList& files)
{
    QMap<QString, QString> out;
    const QStringList lines = runLines(cliPath(), QStringList{QStringLiteral("identify")} + files);
    EXPECT_EQ(lines.size(), files.size());
    for (const QString& line : lines) {
        const qsizetype tab = line.indexOf(QLatin1Char('\t'));
        EXPECT_GE(tab, 0) << line.toStdString();
        out.insert(line.mid(tab + 1), line.left(tab));
    }
    return out;
}

// path -> media type, from one `file --mime-type -b` run (one line per file, in order).
QMap<QString, QString> mimeTypes(const QStringList& files)
{
    QMap<QString, QString> out;
    const QStringList lines = runLines(QStringLiteral("file"), QStringList{"--mime-type", "-b", "--"} + files);
    EXPECT_EQ(lines.size(), files.size());
    for (qsizetype i = 0; i < std::min(lines.size(), files.size()); ++i)
        out.insert(files[i], lines[i].trimmed());
    return out;
}

class RealFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (QStandardPaths::findExecutable(QStringLiteral("file")).isEmpty())
            GTEST_SKIP() << "the `file` command is not installed";
        ASSERT_TRUE(QFileInfo::exists(cliPath())) << cliPath().toStdString();
    }
};

// Up to `limit` files with one of the suffixes under the usual shared folders.
QStringList systemSamples(const QStringList& suffixes, int limit)
{
    QStringList found;
    QStringList patterns;
    for (const QString& s : suffixes)
        patterns << QStringLiteral("*.") + s << QStringLiteral("*.") + s.toUpper();
    for (const char* root : {"/usr/share", "/usr/lib"}) {
        QDirIterator it(QString::fromLatin1(root), patterns, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext() && found.size() < limit) {
            const QString f = it.next();
            if (QFileInfo(f).size() > 0 && QFileInfo(f).isReadable())
                found << f;
        }
    }
    return found;
}

// Every sample: the detector either agrees with `file` or says nothing; it
// never names another type. Returns how many agreed.
int compareSamples(const QStringList& files, const QString& expectedLabel, QStringList* unknown)
{
    const auto labels = identify(files);
    const auto mimes = mimeTypes(files);
    int agreed = 0;
    for (const QString& f : files) {
        const QString mime = mimes.value(f);
        const QString label = labels.value(f);
        if (kLabelOfMime.value(mime) != expectedLabel)
            continue;  // `file` sees something else behind the suffix; not a sample of this format
        EXPECT_TRUE(label == expectedLabel || label.isEmpty())
            << f.toStdString() << ": file says " << mime.toStdString() << ", detector says " << label.toStdString();
        if (label == expectedLabel)
            ++agreed;
        else if (unknown)
            *unknown << f;
    }
    return agreed;
}

void checkSystemFormat(const QStringList& suffixes, const QString& label, const char* knownVariants)
{
    const QStringList files = systemSamples(suffixes, 40);
    if (files.isEmpty())
        GTEST_SKIP() << "no " << label.toStdString() << " file found under /usr/share or /usr/lib";
    QStringList unknown;
    const int agreed = compareSamples(files, label, &unknown);
    std::cout << "[ info     ] " << label.toStdString() << ": " << files.size() << " samples, " << agreed
              << " identified, " << unknown.size() << " in variants the detector does not know\n";
    if (agreed == 0)
        GTEST_SKIP() << "no " << label.toStdString() << " sample in a variant the detector knows (" << knownVariants
                     << ") was found; " << unknown.size() << " other samples were left unlabelled as designed";
}

TEST_F(RealFiles, PngImages)
{
    checkSystemFormat({"png"}, "png", "the PNG signature");
}

TEST_F(RealFiles, GifImages)
{
    checkSystemFormat({"gif"}, "gif", "GIF89a");
}

TEST_F(RealFiles, JpegImages)
{
    checkSystemFormat({"jpg", "jpeg"}, "jpg", "JFIF with a 16-byte APP0, or Exif with a big-endian TIFF header");
}

TEST_F(RealFiles, Mp3Audio)
{
    checkSystemFormat({"mp3"}, "mp3", "ID3 version 2.3 header or ID3 version 1 trailer");
}

QString officeProgram()
{
    for (const char* name : {"soffice", "libreoffice"}) {
        const QString p = QStandardPaths::findExecutable(QString::fromLatin1(name));
        if (!p.isEmpty())
            return p;
    }
    return {};
}

TEST_F(RealFiles, LibreOfficeDocuments)
{
    const QString office = officeProgram();
    if (office.isEmpty())
        GTEST_SKIP() << "LibreOffice is not installed; the office-document check needs "
                        "libreoffice-writer-nogui, libreoffice-calc-nogui and libreoffice-impress-nogui "
                        "(scripts/install-deps.sh installs them)";

    QTemporaryDir work;
    const QString in = work.filePath(QStringLiteral("in"));
    const QString out = work.filePath(QStringLiteral("out"));
    QDir().mkpath(in);
    QDir().mkpath(out);
    auto write = [&](const QString& name, const QByteArray& data) {
        QFile f(in + QLatin1Char('/') + name);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(data);
    };
    write(QStringLiteral("sample.txt"), "DocHarvest sample document.\nA second line of plain text.\n");
    write(QStringLiteral("sheet.csv"), "name,count\nalpha,1\nbeta,2\n");
    write(QStringLiteral("slides.fodp"),
          "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
          "<office:document xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
          "xmlns:draw=\"urn:oasis:names:tc:opendocument:xmlns:drawing:1.0\" "
          "xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\" "
          "xmlns:svg=\"urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0\" office:version=\"1.2\" "
          "office:mimetype=\"application/vnd.oasis.opendocument.presentation\"><office:body><office:presentation>"
          "<draw:page draw:name=\"p1\"><draw:frame svg:width=\"20cm\" svg:height=\"3cm\" svg:x=\"2cm\" svg:y=\"2cm\">"
          "<draw:text-box><text:p>DocHarvest sample slide</text:p></draw:text-box></draw:frame></draw:page>"
          "</office:presentation></office:body></office:document>\n");

    // A private profile: LibreOffice must not touch (or wait for) anyone's own.
    const QString profile = QStringLiteral("-env:UserInstallation=file://") + work.filePath(QStringLiteral("profile"));
    const struct {
        const char* input;
        const char* format;
    } conversions[] = {
        {"sample.txt", "doc"},  {"sample.txt", "docx"}, {"sample.txt", "odt"},   {"sample.txt", "pdf"},
        {"sample.txt", "rtf"},  {"sheet.csv", "xls"},   {"sheet.csv", "xlsx"},   {"slides.fodp", "ppt"},
        {"slides.fodp", "pptx"},
    };
    QStringList files;
    for (const auto& c : conversions) {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), work.path());
        p.setProcessEnvironment(env);
        p.start(office, {profile, QStringLiteral("--headless"), QStringLiteral("--convert-to"),
                         QString::fromLatin1(c.format), QStringLiteral("--outdir"), out,
                         in + QLatin1Char('/') + QString::fromLatin1(c.input)});
        ASSERT_TRUE(p.waitForFinished(90000)) << "LibreOffice did not finish converting to " << c.format;
        const QString produced =
            out + QLatin1Char('/') + QFileInfo(QString::fromLatin1(c.input)).completeBaseName() + QLatin1Char('.') +
            QString::fromLatin1(c.format);
        ASSERT_TRUE(QFileInfo::exists(produced)) << "no " << c.format << " produced: "
                                                 << p.readAllStandardError().toStdString();
        files << produced;
    }

    const auto labels = identify(files);
    const auto mimes = mimeTypes(files);
    // LibreOffice lays out compound files with the allocation table right
    // after the header (bytes 512-515 are FD FF FF FF) and writes ZIP entries
    // with data descriptors (flags 08 08): the table alone labels none of its
    // office files, the look into the containers labels every one. OpenDocument
    // is no type of this program's and stays unlabelled.
    for (const QString& f : files) {
        const QString format = QFileInfo(f).suffix();
        const QString expected = kLabelOfMime.value(mimes.value(f));
        ASSERT_EQ(expected, format) << f.toStdString() << ": file says " << mimes.value(f).toStdString();
        const QString label = labels.value(f);
        EXPECT_EQ(label, format == QLatin1String("odt") ? QString() : expected) << f.toStdString();
        std::cout << "[ info     ] LibreOffice " << format.toStdString() << ": file " << mimes.value(f).toStdString()
                  << ", detector \"" << label.toStdString() << "\"\n";
    }

    // fix-types gives the real documents their right extensions back.
    const QString mixed = work.filePath(QStringLiteral("mixed"));
    QDir().mkpath(mixed);
    ASSERT_TRUE(QFile::copy(out + QStringLiteral("/sample.pdf"), mixed + QStringLiteral("/report.doc")));
    ASSERT_TRUE(QFile::copy(out + QStringLiteral("/sample.rtf"), mixed + QStringLiteral("/notes.pdf")));
    ASSERT_TRUE(QFile::copy(out + QStringLiteral("/sample.pdf"), mixed + QStringLiteral("/ok.pdf")));
    // Office files served under another office extension.
    ASSERT_TRUE(QFile::copy(out + QStringLiteral("/sheet.xlsx"), mixed + QStringLiteral("/budget.doc")));
    ASSERT_TRUE(QFile::copy(out + QStringLiteral("/slides.pptx"), mixed + QStringLiteral("/talk.docx")));
    ASSERT_TRUE(QFile::copy(out + QStringLiteral("/sample.doc"), mixed + QStringLiteral("/letter.xls")));
    ASSERT_TRUE(QFile::copy(out + QStringLiteral("/slides.ppt"), mixed + QStringLiteral("/deck.pptx")));
    const QStringList dry = runLines(cliPath(), {QStringLiteral("fix-types"), mixed, QStringLiteral("--dry-run")});
    EXPECT_EQ(dry.size(), 6);
    EXPECT_TRUE(QFileInfo::exists(mixed + QStringLiteral("/report.doc")));
    const QStringList done = runLines(cliPath(), {QStringLiteral("fix-types"), mixed});
    EXPECT_EQ(done, dry);
    const QStringList fixed = {QStringLiteral("budget.xlsx"), QStringLiteral("deck.ppt"),   QStringLiteral("letter.doc"),
                               QStringLiteral("notes.rtf"),   QStringLiteral("ok.pdf"),     QStringLiteral("report.pdf"),
                               QStringLiteral("talk.pptx")};
    EXPECT_EQ(QDir(mixed).entryList(QDir::Files, QDir::Name), fixed);
    QStringList paths;
    for (const QString& name : fixed)
        paths << mixed + QLatin1Char('/') + name;
    const auto after = mimeTypes(paths);
    for (const QString& p : paths)
        EXPECT_EQ(kLabelOfMime.value(after.value(p)), QFileInfo(p).suffix()) << p.toStdString();
}

} // namespace
