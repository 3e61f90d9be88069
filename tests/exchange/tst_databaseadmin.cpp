// placeholder
#include <QTest>
class DatabaseAdminTest : public QObject { Q_OBJECT };
QTEST_MAIN(DatabaseAdminTest)
#include "tst_databaseadmin.moc"
