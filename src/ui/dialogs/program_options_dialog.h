#pragma once

#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <cstdint>
#include <functional>
#include <vector>

#include "app/program.h"
#include "app/questions.h"
#include "app/settings/program_options.h"
#include "ui/dialogs/key_types_box.h"

namespace tiv::ui {

// Where the dialog learns about the machine's network: the adapters and the named local addresses. Both block,
// so they run off the window thread; tests give fixed ones.
struct NetworkSources {
    std::function<std::vector<app::tree_item>()> adapters = app::machine_adapter_branches;
    std::function<std::vector<app::reverse_name>()> addresses = app::named_local_addresses;
};

// "Options": the machine-wide settings (listening interface and port, IO block size, external name, the key type
// policy) and the machine's adapters. Apply checks, asks and writes through the app layer, restarting the
// listener as the running transfers allow; it stays open on anything refused. Opened with open(): the opener
// hears the end through finished().
class ProgramOptionsDialog final : public QDialog {
    Q_OBJECT
public:
    ProgramOptionsDialog(app::program& program, app::questions& questions, QWidget* parent = nullptr,
                         NetworkSources sources = {});

    void accept() override;

private:
    void buildControls();
    void showOptions();
    void fillInterfaces(const std::vector<app::reverse_name>& addresses);
    void fillAdapters(const std::vector<app::tree_item>& branches);
    void chooseInterface(int index);
    // What the controls hold now; a typed address replaces the chosen entry's.
    [[nodiscard]] app::program_options readControls() const;

    app::program& m_oProgram;
    app::questions& m_oQuestions;
    app::program_options m_oOptions;

    QLineEdit* m_pAddress = nullptr;
    QComboBox* m_pInterfaces = nullptr;
    QLineEdit* m_pPort = nullptr;
    QComboBox* m_pBlockSize = nullptr;
    QLineEdit* m_pExternalName = nullptr;
    QLineEdit* m_pProvider = nullptr;
    // "Edit List": the chooser's OK takes the choice within the provider's types.
    KeyTypesBox* m_pKeyTypes = nullptr;
    QTreeWidget* m_pAdapters = nullptr;
    QLabel* m_pNotice = nullptr;
    QPushButton* m_pApply = nullptr;
};

} // namespace tiv::ui
