// The text view: the first MiB of a file up to its first zero byte, each byte
// the character of the same code, read-only, in the pane's text font.
#include <QFile>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QtTest>

#include "preview/static_file_viewer.h"
#include "preview/text_view.h"

using ostrel::preview::CKorvaneStaticFileViewer;
using ostrel::preview::kMaxTextBytes;
using ostrel::preview::ShowTextView;

class TextViewTest : public QObject {
  Q_OBJECT

 private slots:
  void shows_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("shown");
    QTest::newRow("plain text") << QByteArray("[boot loader]\r\ntimeout=30\r\n")
                                << QStringLiteral("[boot loader]\ntimeout=30\n");
    QTest::newRow("a zero byte ends the text") << QByteArray("before\0after", 12) << QStringLiteral("before");
    // Latin-1 bytes, not UTF-8: each byte its own character.
    QTest::newRow("bytes above 127") << QByteArray("caf\xE9 \xC3\xA9") << QStringLiteral("caf\u00E9 \u00C3\u00A9");
    // UTF-16: what stands before the first zero byte only.
    QTest::newRow("UTF-16 text") << QByteArray("\xFF\xFEH\0i\0", 6) << QStringLiteral("\u00FF\u00FEH");
    QTest::newRow("empty file") << QByteArray() << QString();
  }
  void shows() {
    QFETCH(QByteArray, content);
    QFETCH(QString, shown);
    const QString path = Write(content);
    CKorvaneStaticFileViewer pane;
    pane.resize(400, 300);
    QVERIFY(ShowTextView(pane, path));
    auto* view = pane.CurrentViewAs<QPlainTextEdit>();
    QVERIFY(view != nullptr);
    // QPlainTextEdit keeps line ends as \n.
    QCOMPARE(view->toPlainText(), QString(shown).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
    QVERIFY(view->isReadOnly());
    QCOMPARE(view->font(), pane.TextFont());
  }

  void onlyTheFirstMiBIsRead() {
    QByteArray content(3 * 1024 * 1024, 'a');
    content[static_cast<qsizetype>(kMaxTextBytes) - 1] = 'z';  // the last byte shown
    const QString path = Write(content);
    CKorvaneStaticFileViewer pane;
    QVERIFY(ShowTextView(pane, path));
    const QString text = pane.CurrentViewAs<QPlainTextEdit>()->toPlainText();
    QCOMPARE(text.size(), qsizetype(kMaxTextBytes));
    QCOMPARE(text.back(), QLatin1Char('z'));
  }

  void aFileThatCannotBeReadLeavesNoView() {
    CKorvaneStaticFileViewer pane;
    QVERIFY(!ShowTextView(pane, dir_.path() + QStringLiteral("/missing.txt")));
    QCOMPARE(pane.CurrentView(), nullptr);
    QVERIFY(!ShowTextView(pane, dir_.path()));  // a folder
    QCOMPARE(pane.CurrentView(), nullptr);
  }

 private:
  QString Write(const QByteArray& content) {
    const QString path = dir_.path() + QStringLiteral("/f%1.txt").arg(++count_);
    QFile file(path);
    if (file.open(QIODevice::WriteOnly)) file.write(content);
    return path;
  }
  QTemporaryDir dir_;
  int count_ = 0;
};

QTEST_MAIN(TextViewTest)
#include "text_view_test.moc"
