#include "jobs/CMyFileWatcher.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

class TestWatcher : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void reportsNewJobFiles_data();
    void reportsNewJobFiles();
    void renameIsNoNewJob();
    void removedPathIsNoLongerWatched();
    void listsWhatQDirLists();

private:
    static void touch(const QString& path);
    QString path(const QString& name) const { return m_dir->path() + QLatin1Char('/') + name; }
    QScopedPointer<QTemporaryDir> m_dir;
};

void TestWatcher::touch(const QString& path)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("x");
}

void TestWatcher::init()
{
    m_dir.reset(new QTemporaryDir());
    QVERIFY(m_dir->isValid());
}

void TestWatcher::cleanup()
{
    CMyFileWatcher::DestroyKernel();
    m_dir.reset();
}

void TestWatcher::reportsNewJobFiles_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("reported"); // to the login prompt (signalNewFile)
    QTest::addColumn<bool>("arrived"); // to the job queue (signalJobArrived)
    QTest::addColumn<QString>("kind"); // "file", "renamed" (into place), "link" (to a file elsewhere) or "fifo"
    QTest::newRow("pdf") << "job1.pdf" << true << true << "file";
    QTest::newRow("pcl") << "job1.pcl" << true << false << "file";
    QTest::newRow("xml trigger") << "job1.xml" << false << true << "file";
    QTest::newRow("parameter file") << "job1" << false << false << "file";
    QTest::newRow("upper-case suffix") << "job1.PDF" << false << false << "file";
    QTest::newRow("pdf renamed into place") << "job1.pdf" << false << true << "renamed";
    QTest::newRow("link named pdf") << "job1.pdf" << false << false << "link";
    QTest::newRow("FIFO named pdf") << "job1.pdf" << false << false << "fifo";
}

void TestWatcher::reportsNewJobFiles()
{
    QFETCH(QString, name);
    QFETCH(bool, reported);
    QFETCH(bool, arrived);
    QFETCH(QString, kind);

    if (kind == QLatin1String("renamed")) {
        touch(path(QStringLiteral("job1.part")));
    }
    CMyFileWatcher* watcher = CMyFileWatcher::instance();
    QVERIFY(watcher->addWatchPath(m_dir->path()));
    // A later report from a second folder proves the change in the first one has been looked at.
    QTemporaryDir other;
    QVERIFY(watcher->addWatchPath(other.path()));
    QSignalSpy newFile(watcher, &CMyFileWatcher::signalNewFile);
    QSignalSpy arrivals(watcher, &CMyFileWatcher::signalJobArrived);

    if (kind == QLatin1String("renamed")) {
        QVERIFY(QFile::rename(path(QStringLiteral("job1.part")), path(name)));
    } else if (kind == QLatin1String("link")) {
        QTemporaryFile elsewhere;
        QVERIFY(elsewhere.open());
        QVERIFY(QFile::link(elsewhere.fileName(), path(name)));
    } else if (kind == QLatin1String("fifo")) {
        QCOMPARE(::mkfifo(QFile::encodeName(path(name)).constData(), 0600), 0);
    } else {
        touch(path(name));
    }
    touch(other.path() + QStringLiteral("/marker.pdf"));
    QTRY_VERIFY(arrivals.contains(QVariantList { other.path() }));

    QCOMPARE(newFile.contains(QVariantList { path(name) }), reported);
    QCOMPARE(newFile.count(), reported ? 2 : 1);
    QCOMPARE(arrivals.contains(QVariantList { m_dir->path() }), arrived);
    QCOMPARE(arrivals.count(), arrived ? 2 : 1);
}

void TestWatcher::renameIsNoNewJob()
{
    touch(path(QStringLiteral("a.pdf")));
    CMyFileWatcher* watcher = CMyFileWatcher::instance();
    QVERIFY(watcher->addWatchPath(m_dir->path()));
    // A second folder gives a reference point: its report comes after the rename has been looked at.
    QTemporaryDir other;
    QVERIFY(watcher->addWatchPath(other.path()));
    QSignalSpy newFile(watcher, &CMyFileWatcher::signalNewFile);

    QVERIFY(QFile::rename(path(QStringLiteral("a.pdf")), path(QStringLiteral("b.pdf"))));
    touch(other.path() + QStringLiteral("/job2.pdf"));

    QTRY_COMPARE(newFile.count(), 1);
    QCOMPARE(newFile.first().first().toString(), other.path() + QStringLiteral("/job2.pdf"));
}

void TestWatcher::removedPathIsNoLongerWatched()
{
    CMyFileWatcher* watcher = CMyFileWatcher::instance();
    QVERIFY(watcher->addWatchPath(m_dir->path()));
    QVERIFY(watcher->removeWatchPath(m_dir->path()));
    QVERIFY(!watcher->removeWatchPath(m_dir->path()));

    // Watching a second folder gives a reference point: its report arrives, the first folder's never does.
    QTemporaryDir other;
    QVERIFY(watcher->addWatchPath(other.path()));
    QSignalSpy newFile(watcher, &CMyFileWatcher::signalNewFile);
    touch(path(QStringLiteral("job1.pdf")));
    touch(other.path() + QStringLiteral("/job2.pdf"));
    QTRY_COMPARE(newFile.count(), 1);
    QCOMPARE(newFile.first().first().toString(), other.path() + QStringLiteral("/job2.pdf"));
}

void TestWatcher::listsWhatQDirLists()
{
    // Every kind of entry a job folder can hold: the listing must agree with QDir's, or a change would be
    // misread (a FIFO or a broken link appearing beside a removed job would look like a rename).
    touch(path(QStringLiteral("job1.pdf")));
    touch(path(QStringLiteral("job1")));
    touch(path(QStringLiteral(".hidden.pdf")));
    touch(path(QStringLiteral("caf\u00e9 \u62a5.pdf")));
    QVERIFY(QDir(m_dir->path()).mkdir(QStringLiteral("sub")));
    QVERIFY(QDir(m_dir->path()).mkdir(QStringLiteral(".hiddendir")));
    QCOMPARE(::mkfifo(QFile::encodeName(path(QStringLiteral("fifo.pdf"))).constData(), 0600), 0);
    QVERIFY(QFile::link(path(QStringLiteral("job1.pdf")), path(QStringLiteral("link.pdf"))));
    QVERIFY(QFile::link(path(QStringLiteral("sub")), path(QStringLiteral("linkdir"))));
    QVERIFY(QFile::link(path(QStringLiteral("fifo.pdf")), path(QStringLiteral("linkfifo.pdf"))));
    QVERIFY(QFile::link(path(QStringLiteral("gone.pdf")), path(QStringLiteral("broken.pdf"))));

    const QSet<QString> names = CMyFileWatcher::listEntries(m_dir->path());
    QStringList listed(names.cbegin(), names.cend());
    listed.sort();
    QStringList expected = QDir(m_dir->path()).entryList(QDir::NoDotAndDotDot | QDir::AllDirs | QDir::Files);
    expected.sort();
    QCOMPARE(listed, expected);
    QVERIFY(listed.contains(QStringLiteral("job1.pdf")));
    QVERIFY(!listed.contains(QStringLiteral("broken.pdf")));
}

QTEST_GUILESS_MAIN(TestWatcher)
#include "tst_watcher.moc"
