// How a previewed file's name chooses its view: the extension after the last
// dot, compared in upper case, in groups that never overlap.
#include <QtTest>

#include "preview/preview_types.h"

using ostrel::preview::GetFileExtension;
using ostrel::preview::PreviewGroup;
using ostrel::preview::PreviewGroupOf;
using ostrel::preview::PreviewPage;
using ostrel::preview::PreviewPageOf;

Q_DECLARE_METATYPE(PreviewGroup)
Q_DECLARE_METATYPE(PreviewPage)

class PreviewTypesTest : public QObject {
  Q_OBJECT

 private slots:
  void nameToView_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("extension");  // as it stands in the name
    QTest::addColumn<PreviewGroup>("group");
    QTest::addColumn<PreviewPage>("page");
    const auto none = PreviewPage::None;
    QTest::newRow("text, capitals") << "Notes.TXT" << "TXT" << PreviewGroup::Text << none;
    QTest::newRow("text, small letters") << "notes.txt" << "txt" << PreviewGroup::Text << none;
    QTest::newRow("the last dot counts") << "archive.tar.gz" << "gz" << PreviewGroup::Other << none;
    QTest::newRow("no dot") << "README" << "" << PreviewGroup::Other << none;
    QTest::newRow("a name that is an extension") << "x.README" << "README" << PreviewGroup::Text << none;
    QTest::newRow("trailing dot") << "report." << "" << PreviewGroup::Other << none;
    QTest::newRow("unknown") << "Report.FLV" << "FLV" << PreviewGroup::Other << none;
    QTest::newRow("mail folder") << "Inbox.dbx" << "dbx" << PreviewGroup::Dbx << none;
    QTest::newRow("JPG is an image") << "a.jpg" << "jpg" << PreviewGroup::Image << none;
    QTest::newRow("JPE goes to the browser") << "a.jpe" << "jpe" << PreviewGroup::Browser << PreviewPage::Image;
    QTest::newRow("GIF goes to the browser") << "a.gif" << "gif" << PreviewGroup::Browser << PreviewPage::Image;
    QTest::newRow("camera raw") << "IMG_1.CR2" << "CR2" << PreviewGroup::Image << none;
    QTest::newRow("music") << "song.mp3" << "mp3" << PreviewGroup::Browser << PreviewPage::Media;
    QTest::newRow("flash") << "intro.swf" << "swf" << PreviewGroup::Browser << PreviewPage::Flash;
    QTest::newRow("a page the browser opens") << "index.html" << "html" << PreviewGroup::Browser << none;
    QTest::newRow("mail message") << "mail.eml" << "eml" << PreviewGroup::Other << none;
    QTest::newRow("archive") << "setup.7z" << "7z" << PreviewGroup::Archive << none;
    QTest::newRow("one letter") << "x.Z" << "Z" << PreviewGroup::Archive << none;
    QTest::newRow("PDF reads as text") << "manual.pdf" << "pdf" << PreviewGroup::Text << none;
    // The browser would apply the style sheet it names, and the files that
    // reads in.
    QTest::newRow("XML reads as text") << "data.xml" << "xml" << PreviewGroup::Text << none;
  }
  void nameToView() {
    QFETCH(QString, name);
    QFETCH(QString, extension);
    QFETCH(PreviewGroup, group);
    QFETCH(PreviewPage, page);
    QCOMPARE(GetFileExtension(name), extension);
    QCOMPARE(PreviewGroupOf(extension.toUpper()), group);
    QCOMPARE(PreviewPageOf(extension.toUpper()), page);
  }

  // The comparison is exact on what the caller gives: it upper-cases.
  void lowerCaseIsNotMatched() {
    QCOMPARE(PreviewGroupOf(QStringLiteral("txt")), PreviewGroup::Other);
    QCOMPARE(PreviewGroupOf(QStringLiteral("Png")), PreviewGroup::Other);
  }
};

QTEST_MAIN(PreviewTypesTest)
#include "preview_types_test.moc"
