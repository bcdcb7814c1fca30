#include "ui/dialogs/about_box.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFile>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QTextBrowser>
#include <QVBoxLayout>

namespace tiv::ui {

namespace {
// The licence ships inside the program; without it the box still opens, with an empty text.
QString licenceText() {
    QFile licence(":/quorvel/licence.md");
    return licence.open(QIODevice::ReadOnly) ? QString::fromUtf8(licence.readAll()) : QString();
}

QLabel* iconLabel() {
    auto* label = new QLabel;
    label->setPixmap(QApplication::windowIcon().pixmap(32, 32));
    return label;
}
} // namespace

AboutBox::AboutBox(QWidget* parent) : QDialog(parent) {
    setObjectName("aboutBox");
    setWindowTitle("About Quorvel");
    setModal(true);

    auto* heading = new QVBoxLayout;
    auto* name = new QLabel("Quorvel V 1.2");
    name->setAlignment(Qt::AlignCenter);
    auto* maker = new QLabel("Files sent straight from one computer to a friend's,\n"
                             "authenticated and encrypted, with no server between.");
    maker->setAlignment(Qt::AlignCenter);
    heading->addWidget(name);
    heading->addWidget(maker);

    auto* top = new QHBoxLayout;
    top->addWidget(iconLabel());
    top->addLayout(heading, 1);
    top->addWidget(iconLabel());

    auto* licence = new QTextBrowser;
    licence->setObjectName("licenceText");
    licence->setAccessibleName("Licence");
    licence->setReadOnly(true);
    licence->setMarkdown(licenceText());

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok);
    buttons->button(QDialogButtonBox::Ok)->setObjectName("okButton");
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(licence, 1);
    layout->addWidget(buttons);
    resize(560, 420);
}

} // namespace tiv::ui
