// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/support/AspProcess.h"

#include <QElapsedTimer>
#include <QRegularExpression>

AspProcess::AspProcess(const QString& program, const QString& root)
{
    m_process.start(program, {"--root", root, "--port", "0"});
    QByteArray out;
    QElapsedTimer timer;
    timer.start();
    while (m_process.waitForStarted(5000) && !out.contains('\n') && timer.elapsed() < 5000
           && m_process.state() == QProcess::Running) {
        m_process.waitForReadyRead(100);
        out += m_process.readAllStandardOutput();
    }
    const auto m = QRegularExpression(QStringLiteral("端口 (\\d+)")).match(QString::fromLocal8Bit(out));
    m_port = m.hasMatch() ? m.captured(1).toInt() : 0;
}

AspProcess::~AspProcess()
{
    m_process.terminate();
    if (!m_process.waitForFinished(3000))
        m_process.kill();
    m_process.waitForFinished();
}
