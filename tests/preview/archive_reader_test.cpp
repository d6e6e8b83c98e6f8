// Reading the entries of archives through the archive library (7-Zip's shared
// library): a sample of every format of the archive group that Debian's tools
// make (tests/fixtures/archives, see its README), the archives that are
// refused (a password asked for, a damaged file, the wrong format), the
// libraries that are refused (missing, or not laid out as declared), the
// property values as text, and the stream and callback the library calls.
#include <QTemporaryDir>
#include <QtTest>
#include <string>
#include <vector>

#include "preview/archive_reader.h"

using namespace ostrel::preview;
using namespace ostrel::preview::archive;

namespace {

using Entries = std::vector<ArchiveEntry>;

QString Sample(const QString& name) { return QStringLiteral(OSTREL_TEST_FIXTURES_DIR "/archives/") + name; }

// "docs[+] docs/readme.txt[-]": readable when a comparison fails.
QString Describe(const std::optional<Entries>& entries) {
  if (!entries) return QStringLiteral("(no entries)");
  QStringList parts;
  for (const ArchiveEntry& entry : *entries) parts << entry.path + QLatin1Char('[') + entry.isDirectory + QLatin1Char(']');
  return parts.join(QLatin1Char(' '));
}

// The sample's format taken from its extension, as the preview does.
ArchiveReading Read(const QString& name, const std::wstring* password = nullptr) {
  const std::optional<GUID> format = ArchiveFormatOf(name.mid(name.lastIndexOf(QLatin1Char('.')) + 1));
  if (!format) qFatal("no format for %s", qPrintable(name));
  return ReadArchiveEntries(Sample(name), *format, password);
}

// The tree every sample is made of (make_samples.sh).
const Entries kTree{{QStringLiteral("docs"), QStringLiteral("+")},
                    {QStringLiteral("docs/readme.txt"), QStringLiteral("-")},
                    {QStringLiteral("notes.txt"), QStringLiteral("-")}};
// Formats that keep files only.
const Entries kFiles{kTree[1], kTree[2]};

PROPVARIANT Variant(VARTYPE vt, std::uint64_t bits) {
  PROPVARIANT value{};
  value.vt = vt;
  value.uhVal = bits;
  return value;
}

// Seconds since 1970 as a file time, plus `ticks` hundreds of nanoseconds.
std::uint64_t FileTime(std::int64_t unixSeconds, std::uint64_t ticks = 0) {
  return static_cast<std::uint64_t>(unixSeconds + 11644473600) * 10000000u + ticks;
}

}  // namespace

Q_DECLARE_METATYPE(Entries)
Q_DECLARE_METATYPE(ArchiveFailure)

class ArchiveReaderTest : public QObject {
  Q_OBJECT

 private slots:
  void cleanup() { qunsetenv(kArchiveLibraryVariable); }

  void everyFormatIsListed_data();
  void everyFormatIsListed();
  void longPathsAreCut();
  void unreadableArchivesGiveNoEntries_data();
  void unreadableArchivesGiveNoEntries();
  void aDefinedPasswordOpensEncryptedNames();
  void unusableLibrariesAreRefused_data();
  void unusableLibrariesAreRefused();
  void propertyValuesAsText_data();
  void propertyValuesAsText();
  void stringsComeThroughTheLibrarysAllocator();
  void theStreamAnswersTheLibrary();
  void theCallbackRefusesPasswordsUnlessOneIsDefined();
};

void ArchiveReaderTest::everyFormatIsListed_data() {
  QTest::addColumn<QString>("file");
  QTest::addColumn<Entries>("entries");
  const QString none;
  QTest::newRow("zip with a folder") << "sample.zip" << kTree;
  QTest::newRow("zip, upper-case extension") << "BACKUP.ZIP" << kTree;
  QTest::newRow("empty zip") << "empty.zip" << Entries{};
  QTest::newRow("7z") << "sample.7z" << kTree;
  QTest::newRow("tar") << "sample.tar" << kTree;
  QTest::newRow("cpio") << "sample.cpio" << kTree;
  QTest::newRow("iso") << "sample.iso" << kTree;
  QTest::newRow("wim") << "sample.wim" << kTree;
  QTest::newRow("arj, files only") << "sample.arj" << kFiles;
  QTest::newRow("cab, files only") << "sample.cab" << kFiles;
  // One-file formats have no is-directory value; only gzip keeps a name
  // (the others would take it from the archive's own name, which the
  // library is not told).
  QTest::newRow("gzip") << "sample.gzip" << Entries{{QStringLiteral("notes.txt"), none}};
  QTest::newRow("bzip2") << "sample.bzip2" << Entries{{none, none}};
  QTest::newRow("lzma") << "sample.lzma" << Entries{{none, none}};
  QTest::newRow("z") << "sample.z" << Entries{{none, none}};
  QTest::newRow("deb, its members") << "sample.deb"
                                    << Entries{{QStringLiteral("control.tar.xz"), none},
                                               {QStringLiteral("data.tar.xz"), none}};
  QTest::newRow("rpm, its payload") << "sample.rpm" << Entries{{QStringLiteral("sample-1.0-1.noarch.cpio.gz"), none}};
}

void ArchiveReaderTest::everyFormatIsListed() {
  QFETCH(QString, file);
  QFETCH(Entries, entries);
  const ArchiveReading reading = Read(file);
  QCOMPARE(reading.failure, ArchiveFailure::None);
  QCOMPARE(Describe(reading.entries), Describe(entries));
}

void ArchiveReaderTest::longPathsAreCut() {
  // Five folder names of 250 characters: 1,254 characters in all.
  const QString name(250, QLatin1Char('a'));
  const QString full = QStringList{name, name, name, name, name}.join(QLatin1Char('/'));
  const ArchiveReading reading = Read(QStringLiteral("long.tar"));
  QVERIFY(reading.entries.has_value());
  QCOMPARE(reading.entries->size(), 1u);
  QCOMPARE(reading.entries->front().path, full.left(kMaxEntryPathLength));
  QCOMPARE(reading.entries->front().isDirectory, QStringLiteral("-"));
}

void ArchiveReaderTest::unreadableArchivesGiveNoEntries_data() {
  QTest::addColumn<QString>("file");
  QTest::addColumn<QString>("format");  // the extension whose format is asked for
  QTest::addColumn<ArchiveFailure>("failure");
  QTest::newRow("encrypted names: the password is refused") << "secret.7z" << "7z" << ArchiveFailure::NotOpened;
  QTest::newRow("zip cut inside its first header") << "damaged.zip" << "zip" << ArchiveFailure::NotOpened;
  QTest::newRow("zip under a 7z name") << "sample.zip" << "7z" << ArchiveFailure::NotOpened;
  QTest::newRow("tar under a cab name") << "sample.tar" << "cab" << ArchiveFailure::NotOpened;
  QTest::newRow("no such file") << "missing.zip" << "zip" << ArchiveFailure::File;
  QTest::newRow("a folder") << "" << "zip" << ArchiveFailure::File;
}

void ArchiveReaderTest::unreadableArchivesGiveNoEntries() {
  QFETCH(QString, file);
  QFETCH(QString, format);
  QFETCH(ArchiveFailure, failure);
  const ArchiveReading reading = ReadArchiveEntries(Sample(file), *ArchiveFormatOf(format));
  QCOMPARE(reading.failure, failure);
  QVERIFY(!reading.entries.has_value());
  QVERIFY(reading.problem.isEmpty());
}

void ArchiveReaderTest::aDefinedPasswordOpensEncryptedNames() {
  // The refusal above is the password's: with the right one the names come.
  const std::wstring right = L"secret";
  QCOMPARE(Describe(Read(QStringLiteral("secret.7z"), &right).entries), Describe(kTree));
  const std::wstring wrong = L"guess";
  QCOMPARE(Read(QStringLiteral("secret.7z"), &wrong).failure, ArchiveFailure::NotOpened);
}

void ArchiveReaderTest::unusableLibrariesAreRefused_data() {
  QTest::addColumn<QString>("library");
  QTest::addColumn<QString>("why");
  const QString fakes = QStringLiteral(OSTREL_FAKE_ARCHIVE_LIBRARIES "/");
  QTest::newRow("missing") << fakes + "absent.so" << "cannot be loaded";
  QTest::newRow("not a shared object") << Sample(QStringLiteral("sample.zip")) << "cannot be loaded";
  QTest::newRow("none of the exports") << fakes + "fake_archive_nothing.so" << "has no CreateObject";
  QTest::newRow("no layout export") << fakes + "fake_archive_no_module_prop.so" << "has no GetModuleProp";
  QTest::newRow("virtual destructor in IUnknown") << fakes + "fake_archive_virtual_destructor.so"
                                                  << "lays its objects out differently (interface type 1";
}

void ArchiveReaderTest::unusableLibrariesAreRefused() {
  QFETCH(QString, library);
  QFETCH(QString, why);
  qputenv(kArchiveLibraryVariable, QFile::encodeName(library));
  const ArchiveReading reading = Read(QStringLiteral("sample.zip"));
  QCOMPARE(reading.failure, ArchiveFailure::Library);
  QVERIFY(!reading.entries.has_value());
  QVERIFY2(reading.problem.contains(why) && reading.problem.contains(library), qPrintable(reading.problem));
}

void ArchiveReaderTest::propertyValuesAsText_data() {
  QTest::addColumn<int>("type");
  QTest::addColumn<quint64>("bits");  // the value's eight bytes
  QTest::addColumn<QString>("text");  // null: not convertible
  QTest::newRow("empty") << int(VT_EMPTY) << quint64{0} << "";
  QTest::newRow("16-bit signed, negative") << int(VT_I2) << quint64{0xFFFB} << "-5";
  QTest::newRow("32-bit signed, lowest") << int(VT_I4) << quint64{0x80000000u} << "-2147483648";
  QTest::newRow("64-bit signed, lowest") << int(VT_I8) << quint64{0x8000000000000000u} << "-9223372036854775808";
  QTest::newRow("8-bit unsigned") << int(VT_UI1) << quint64{0xFF} << "255";
  QTest::newRow("16-bit unsigned") << int(VT_UI2) << quint64{0xFFFF} << "65535";
  QTest::newRow("32-bit unsigned, highest bits above ignored") << int(VT_UI4) << quint64{0x12345678FFFFFFFFu}
                                                               << "4294967295";
  QTest::newRow("64-bit unsigned, highest") << int(VT_UI8) << quint64{~0ull} << "18446744073709551615";
  QTest::newRow("true") << int(VT_BOOL) << quint64{0xFFFF} << "+";
  QTest::newRow("false") << int(VT_BOOL) << quint64{0} << "-";
  QTest::newRow("file time, fraction dropped") << int(VT_FILETIME) << quint64{FileTime(1236434709, 9999999)}
                                               << "2009-03-07 14:05:09";
  QTest::newRow("file time, a leap day") << int(VT_FILETIME) << quint64{FileTime(951868799)} << "2000-02-29 23:59:59";
  QTest::newRow("file time 0") << int(VT_FILETIME) << quint64{0} << "1601-01-01 00:00:00";
  QTest::newRow("file time, highest") << int(VT_FILETIME) << quint64{~0ull} << "60056-05-28 05:36:10";
  QTest::newRow("double: not convertible") << int(VT_R8) << quint64{0} << QString();
}

void ArchiveReaderTest::propertyValuesAsText() {
  QFETCH(int, type);
  QFETCH(quint64, bits);
  QFETCH(QString, text);
  QString problem;
  const auto library = ArchiveLibrary::Load(&problem);
  QVERIFY2(library, qPrintable(problem));
  const std::optional<QString> converted = PropertyToText(*library, Variant(static_cast<VARTYPE>(type), bits));
  if (text.isNull()) {
    QVERIFY(!converted.has_value());
  } else {
    QVERIFY(converted.has_value());
    QCOMPARE(*converted, text);
  }
}

void ArchiveReaderTest::stringsComeThroughTheLibrarysAllocator() {
  QString problem;
  const auto library = ArchiveLibrary::Load(&problem);
  QVERIFY2(library, qPrintable(problem));
  QCOMPARE(library->Version() >> 16 >= 21, true);
  // Characters beyond 16 bits stay whole; a string is cut after 1,023.
  const std::wstring shortText = L"Gr\u00FC\u00DFe \U0001F600.txt";
  std::wstring longText(kMaxEntryPathLength, L'x');
  longText += L"\U0001F600tail";
  for (const std::wstring& text : {shortText, longText}) {
    PROPVARIANT value{};
    value.vt = VT_BSTR;
    value.bstrVal = library->AllocString(text.c_str());
    QVERIFY(value.bstrVal != nullptr);
    const std::optional<QString> converted = PropertyToText(*library, value);
    library->Clear(&value);
    QCOMPARE(value.vt, VT_EMPTY);
    QVERIFY(converted.has_value());
    QCOMPARE(*converted, QString::fromStdWString(text.substr(0, kMaxEntryPathLength)));
  }
}

void ArchiveReaderTest::theStreamAnswersTheLibrary() {
  QTemporaryDir dir;
  QVERIFY(dir.isValid());
  const QString path = dir.filePath(QStringLiteral("five.bin"));
  const std::uint32_t size = kMaxStreamRead + 1048576;
  {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QByteArray bytes(static_cast<qsizetype>(size), '\0');
    for (qsizetype i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i % 251);
    QCOMPARE(file.write(bytes), bytes.size());
  }
  CInFileStream* stream = CInFileStream::Create();
  QVERIFY(!stream->Open(dir.filePath(QStringLiteral("absent"))));
  QVERIFY(stream->Open(path));

  // One read gives at most kMaxStreamRead bytes.
  std::vector<std::uint8_t> buffer(size);
  std::uint32_t processed = 1;
  QCOMPARE(stream->Read(buffer.data(), size, &processed), S_OK);
  QCOMPARE(processed, kMaxStreamRead);
  QCOMPARE(buffer[kMaxStreamRead - 1], std::uint8_t((kMaxStreamRead - 1) % 251));

  std::uint64_t position = 0;
  QCOMPARE(stream->Seek(-10, 2, &position), S_OK);
  QCOMPARE(position, std::uint64_t{size} - 10);
  QCOMPARE(stream->Seek(4, 1, &position), S_OK);
  QCOMPARE(position, std::uint64_t{size} - 6);
  QCOMPARE(stream->Read(buffer.data(), 100, &processed), S_OK);
  QCOMPARE(processed, 6u);
  QCOMPARE(stream->Read(buffer.data(), 100, &processed), S_OK);
  QCOMPARE(processed, 0u);
  QCOMPARE(stream->Seek(0, 3, &position), STG_E_INVALIDFUNCTION);
  QCOMPARE(stream->Seek(-1, 0, &position), ResultFromSystemError(EINVAL));
  QCOMPARE(stream->Seek(7, 0, nullptr), S_OK);

  // The size through the interface the library asks for.
  void* object = nullptr;
  QCOMPARE(stream->QueryInterface(IID_IStreamGetSize, &object), S_OK);
  auto* sized = static_cast<IStreamGetSize*>(object);
  std::uint64_t total = 0;
  QCOMPARE(sized->GetSize(&total), S_OK);
  QCOMPARE(total, std::uint64_t{size});
  QCOMPARE(sized->Release(), 1u);
  QCOMPARE(stream->QueryInterface(IID_IUnknown, &object), S_OK);
  QCOMPARE(object, static_cast<void*>(static_cast<IInStream*>(stream)));
  QCOMPARE(stream->QueryInterface(IID_IInArchive, &object), E_NOINTERFACE);
  QCOMPARE(object, nullptr);
  QCOMPARE(stream->Release(), 1u);
  QCOMPARE(stream->Release(), 0u);  // gone, with its file
}

void ArchiveReaderTest::theCallbackRefusesPasswordsUnlessOneIsDefined() {
  QString problem;
  const auto library = ArchiveLibrary::Load(&problem);
  QVERIFY2(library, qPrintable(problem));
  CArchiveOpenCallback* callback = CArchiveOpenCallback::Create(*library);
  void* object = nullptr;
  QCOMPARE(callback->QueryInterface(IID_IInStream, &object), E_NOINTERFACE);
  QCOMPARE(callback->QueryInterface(IID_ICryptoGetTextPassword, &object), S_OK);
  auto* asker = static_cast<ICryptoGetTextPassword*>(object);
  BSTR password = nullptr;
  QCOMPARE(asker->CryptoGetTextPassword(&password), E_ABORT);
  QCOMPARE(password, nullptr);
  callback->SetPassword(L"secret");
  QCOMPARE(asker->CryptoGetTextPassword(&password), S_OK);
  QCOMPARE(std::wstring(password, library->StringLength(password)), std::wstring(L"secret"));
  library->FreeString(password);
  QCOMPARE(asker->Release(), 1u);
  QCOMPARE(callback->Release(), 0u);
}

QTEST_GUILESS_MAIN(ArchiveReaderTest)
#include "archive_reader_test.moc"
