#include "ui/dialogs/background_options_box.h"

#include <QLabel>
#include <QStyle>
#include <QVBoxLayout>

#include "app/autostart.h"
#include "app/settings/background_receiving.h"

namespace tiv::ui {

namespace {
// A choice with its one line of explanation beneath it, which a screen reader reads as its description.
QCheckBox* addChoice(QVBoxLayout* column, const char* text, const char* objectName, const QString& explanation) {
    auto* choice = new QCheckBox(QString::fromLatin1(text));
    choice->setObjectName(objectName);
    choice->setAccessibleName(QString::fromLatin1(text));
    choice->setAccessibleDescription(explanation);
    auto* line = new QLabel(explanation);
    line->setWordWrap(true);
    line->setIndent(choice->style()->pixelMetric(QStyle::PM_IndicatorWidth) +
                    choice->style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing));
    column->addWidget(choice);
    column->addWidget(line);
    return choice;
}
} // namespace

BackgroundOptionsBox::BackgroundOptionsBox(app::program& program, QWidget* parent, bool trayAvailable,
                                           QString programPath)
    : QGroupBox("In the Background", parent), m_oProgram(program), m_strProgramPath(std::move(programPath)) {
    setObjectName("backgroundOptionsBox");
    auto* column = new QVBoxLayout(this);
    m_pKeepReceiving =
        addChoice(column, "Keep receiving in the background", "keepReceivingCheck",
                  trayAvailable ? "Closing the window leaves Quorvel receiving in the tray; quit it from there."
                                : "This desktop has no tray: closing the window quits Quorvel.");
    m_pKeepReceiving->setEnabled(trayAvailable);
    m_pKeepReceiving->setChecked(trayAvailable && app::keeps_receiving_in_background(m_oProgram));
    m_pStartAtLogin = addChoice(column, "Start at login", "startAtLoginCheck",
                                trayAvailable ? "Quorvel starts in the tray when you log in, ready to receive."
                                              : "Quorvel starts minimized when you log in, ready to receive.");
    m_pStartAtLogin->setChecked(app::starts_at_login());
    column->addStretch(1);
}

app::status BackgroundOptionsBox::apply() {
    if (m_pKeepReceiving->isEnabled() &&
        m_pKeepReceiving->isChecked() != app::keeps_receiving_in_background(m_oProgram)) {
        if (app::status saved = app::set_keep_receiving_in_background(m_oProgram, m_pKeepReceiving->isChecked());
            !saved) {
            return saved;
        }
    }
    const bool wanted = m_pStartAtLogin->isChecked();
    if (wanted == app::starts_at_login()) {
        return {};
    }
    return wanted ? app::start_at_login(m_strProgramPath.toStdString()) : app::stop_starting_at_login();
}

} // namespace tiv::ui
