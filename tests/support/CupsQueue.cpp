// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/support/CupsQueue.h"

#include "tests/support/FreePort.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QTcpSocket>
#include <QThread>

#include <unistd.h>

namespace {

bool writeText(const QString& path, const QString& text)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate)
           && file.write(text.toUtf8()) == text.toUtf8().size();
}

// Filters run as lp, and must read the spool and the configuration.
void openTo(const QString& path)
{
    QFile::setPermissions(path, QFile::permissions(path) | QFileDevice::ReadOther | QFileDevice::ExeOther
                                    | QFileDevice::ReadGroup | QFileDevice::ExeGroup);
}

} // namespace

CupsQueue::CupsQueue(QSizeF paper)
    : m_paper(paper)
{
    if (::geteuid() != 0) {
        m_error = QStringLiteral("cups-pdf 只在打印服务以 root 运行时写出文件");
        return;
    }
    if (!m_dir.isValid()) {
        m_error = QStringLiteral("无法建立临时目录");
        return;
    }
    openTo(m_dir.path());
    m_name = QStringLiteral("qinghe-test-%1-%2")
                 .arg(QCoreApplication::applicationPid())
                 .arg(quintptr(this), 0, 16);
    // Some tries, as another program may take the port found free before the scheduler binds it.
    for (int attempt = 0; attempt < 3 && !m_running; ++attempt)
        m_running = start();
}

CupsQueue::~CupsQueue()
{
    if (m_scheduler.state() != QProcess::NotRunning) {
        m_scheduler.terminate();
        if (!m_scheduler.waitForFinished(10000)) {
            m_scheduler.kill();
            m_scheduler.waitForFinished(5000);
        }
    }
    if (!m_pdfConfig.isEmpty())
        QFile::remove(m_pdfConfig);
}

bool CupsQueue::start()
{
    const QDir dir(m_dir.path());
    for (const char* sub : {"etc", "spool", "spool/tmp", "cache", "state", "log", "out", "pdf-spool"}) {
        dir.mkpath(QString::fromLatin1(sub));
        openTo(dir.filePath(QString::fromLatin1(sub)));
    }
    const int port = freeLocalPort();
    if (port == 0) {
        m_error = QStringLiteral("没有空闲端口");
        return false;
    }
    m_server = QStringLiteral("127.0.0.1:%1").arg(port);
    const QString files = QStringLiteral("ServerRoot %1/etc\nRequestRoot %1/spool\nTempDir %1/spool/tmp\n"
                                         "CacheDir %1/cache\nStateDir %1/state\nErrorLog %1/log/error_log\n"
                                         "AccessLog %1/log/access_log\nPageLog %1/log/page_log\n"
                                         "ServerBin /usr/lib/cups\nDataDir /usr/share/cups\n"
                                         "User lp\nGroup lp\nSystemGroup root\n")
                              .arg(m_dir.path());
    // Anyone on this machine may print and administer it: it lives as long as the test.
    const QString scheduler = QStringLiteral("Listen %1\nLogLevel info\nBrowsing No\nWebInterface No\n"
                                             "DefaultAuthType None\n<Location />\n  Order allow,deny\n"
                                             "  Allow all\n</Location>\n<Policy default>\n  <Limit All>\n"
                                             "    Order deny,allow\n  </Limit>\n</Policy>\n")
                                  .arg(m_server);
    if (!writeText(dir.filePath(QStringLiteral("etc/cups-files.conf")), files)
        || !writeText(dir.filePath(QStringLiteral("etc/cupsd.conf")), scheduler)) {
        m_error = QStringLiteral("无法写入打印服务的配置");
        return false;
    }
    m_pdfConfig = QStringLiteral("/etc/cups/cups-pdf-%1.conf").arg(m_name);
    if (!writeText(m_pdfConfig,
                   QStringLiteral("Out %1/out\nAnonDirName %1/out\nSpool %1/pdf-spool\nLog %1/log\n"
                                  "Label 0\nLogType 3\n")
                       .arg(m_dir.path()))) {
        m_error = QStringLiteral("无法写入 ") + m_pdfConfig;
        return false;
    }

    m_scheduler.setProcessChannelMode(QProcess::MergedChannels);
    m_scheduler.start(QStringLiteral("/usr/sbin/cupsd"),
                      {QStringLiteral("-f"), QStringLiteral("-c"),
                       dir.filePath(QStringLiteral("etc/cupsd.conf")), QStringLiteral("-s"),
                       dir.filePath(QStringLiteral("etc/cups-files.conf"))});
    if (!m_scheduler.waitForStarted(10000)) {
        m_error = QStringLiteral("cupsd 无法启动：") + m_scheduler.errorString();
        return false;
    }
    const QDeadlineTimer deadline(20000);
    bool listening = false;
    while (!listening && !deadline.hasExpired() && m_scheduler.state() == QProcess::Running) {
        QTcpSocket probe;
        probe.connectToHost(QStringLiteral("127.0.0.1"), quint16(port));
        listening = probe.waitForConnected(200);
        if (!listening)
            QThread::msleep(100);
    }
    if (!listening) {
        m_error = QStringLiteral("cupsd 没有开始监听：") + log();
        m_scheduler.kill();
        m_scheduler.waitForFinished(5000);
        return false;
    }
    QProcess admin;
    admin.setProcessChannelMode(QProcess::MergedChannels);
    QStringList arguments{QStringLiteral("-h"),
                          m_server,
                          QStringLiteral("-p"),
                          m_name,
                          QStringLiteral("-E"),
                          QStringLiteral("-v"),
                          QStringLiteral("cups-pdf:/") + m_name,
                          QStringLiteral("-P"),
                          driver()};
    // The scheduler gives a new printer the system's paper; a card printer keeps its card.
    if (!m_paper.isEmpty())
        arguments << QStringLiteral("-o") << QStringLiteral("PageSize=Card");
    admin.start(QStringLiteral("lpadmin"), arguments);
    if (!admin.waitForFinished(30000) || admin.exitCode() != 0) {
        m_error = QStringLiteral("lpadmin 没有建立打印队列：") + QString::fromUtf8(admin.readAll()) + log();
        return false;
    }
    return true;
}

QString CupsQueue::driver()
{
    const QString original = QStringLiteral("/usr/share/ppd/cups-pdf/CUPS-PDF_opt.ppd");
    if (m_paper.isEmpty())
        return original;
    QFile in(original);
    if (!in.open(QIODevice::ReadOnly))
        return original;
    constexpr double pointsPerMm = 72 / 25.4;
    const QString w = QString::number(m_paper.width() * pointsPerMm, 'f', 2);
    const QString h = QString::number(m_paper.height() * pointsPerMm, 'f', 2);
    const QString setup = QStringLiteral("\"<</PageSize[%1 %2]/ImagingBBox null>>setpagedevice\"").arg(w, h);
    // Each default becomes the paper, which is added beside it.
    const QList<std::pair<QString, QString>> entries{
        {QStringLiteral("PageSize"), setup},
        {QStringLiteral("PageRegion"), setup},
        {QStringLiteral("ImageableArea"), QStringLiteral("\"0 0 %1 %2\"").arg(w, h)},
        {QStringLiteral("PaperDimension"), QStringLiteral("\"%1 %2\"").arg(w, h)}};
    QStringList lines = QString::fromLatin1(in.readAll()).split(u'\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        for (const auto& [keyword, value] : entries) {
            if (lines[i].startsWith(QStringLiteral("*Default%1:").arg(keyword))) {
                lines[i] = QStringLiteral("*Default%1: Card").arg(keyword);
                lines.insert(++i, QStringLiteral("*%1 Card/Card: %2").arg(keyword, value));
                break;
            }
        }
    }
    const QString copy = QDir(m_dir.path()).filePath(QStringLiteral("card.ppd"));
    return writeText(copy, lines.join(u'\n')) ? copy : original;
}

QString CupsQueue::log() const
{
    QFile file(QDir(m_dir.path()).filePath(QStringLiteral("log/error_log")));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll().right(4000)) : QString();
}

QStringList CupsQueue::waitForPdfs(int count, int timeoutMs) const
{
    const QDir out(QDir(m_dir.path()).filePath(QStringLiteral("out")));
    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        QStringList files;
        for (const QString& name : out.entryList({QStringLiteral("*.pdf")}, QDir::Files, QDir::Name))
            files.append(out.filePath(name));
        // A file is whole once its job has left the queue.
        QProcess pending;
        pending.start(QStringLiteral("lpstat"),
                      {QStringLiteral("-h"), m_server, QStringLiteral("-o"), m_name});
        pending.waitForFinished(10000);
        const bool idle = pending.exitCode() == 0 && pending.readAllStandardOutput().trimmed().isEmpty();
        if ((files.size() >= count && idle) || deadline.hasExpired())
            return files;
        QThread::msleep(200);
    }
}
