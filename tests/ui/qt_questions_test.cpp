#include <QTest>

#include "app/questions.h"
#include "ui/qt_questions.h"

namespace tiv::ui {

// The file choosers' filters as the Qt dialog shows them: each label once with its patterns, every file for "*.*".
class QtQuestionsTest : public QObject {
    Q_OBJECT
private slots:
    void profileChoosersNameEachFilterOnce() {
        for (const app::file_chooser& chooser : {app::export_profile_chooser(), app::import_profile_chooser()}) {
            QCOMPARE(qtFilterText(chooser.filters), QString("Profile Files (*.prf);;All Files (*)"));
        }
    }
};

} // namespace tiv::ui

QTEST_MAIN(tiv::ui::QtQuestionsTest)
#include "qt_questions_test.moc"
