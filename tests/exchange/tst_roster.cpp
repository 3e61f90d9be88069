// placeholder
#include <QTest>
class RosterTest : public QObject { Q_OBJECT };
QTEST_MAIN(RosterTest)
#include "tst_roster.moc"
