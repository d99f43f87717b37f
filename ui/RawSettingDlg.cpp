#include "ui/RawSettingDlg.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QToolTip>
#include <QVBoxLayout>

#include "recovery/RawPage.h"
#include "ui/Messages.h"

namespace quenlow::ui {

namespace {

struct Field {
    const char* name;
    const char* label;
    const char* help;
};

// In the dialog's order; "includesHeader" is the check box.
const Field kFields[] = {
    {"extension", "File Extention :",
     "Enter file extention .\n Example 'jpg','mp3','avi',..etc.\n Do not put a dot(.) before extention(i.e .mp3)"},
    {"startSignature", "Starting Signature :",
     "here enter the file signature that happens to be in the starting of the file.\n example 0x89,0x50,0x4E,0x47  "
     "for png File"},
    {"endSignature", "Ending Signature :",
     "here enter the file signature that happens to be in the end of the file.\n Example "
     "0x49,0x45,0x4E,0x44,0xAE,0x42,0x60,0x82 for png File.\n its optional Field .you can leave it if you dont know ."},
    {"sizeOffset", "Offset to Size Byte :",
     "if  the size of file is given in the header and you know its offset please enter that offset here.\n its "
     "optional Field .you can leave it if you don't know."},
    {"sizeBytes", "Number Of Bytes In Size :",
     "if  you know how many bytes represents size please enter that number of bytes  here.\n its optional Field "
     ".you can leave it ifyou  don't know."},
    {"includesHeader", "Size includes header size",
     "check this checkbox if the size alkso includes the header size else leave it.\n its optional Field .you can "
     "leave it if you don't know."},
    {"headerSize", "Header size :",
     "please enter the header size in bytes here.\n its optional Field .you can leave it if you don't know."},
    {"skipSize", "Size_to_skip_WhileParsing :",
     "when we find the file signature you mentioned  above we can skip further file scanning by an amount you enter "
     "here.\n For example mp3 are generally greater then 2 mb .so you can enter 2097152 bytes here.\n its optional "
     "Field .you can leave it ."},
    {"approximateSize", "Approx file size :",
     "please enter approx file size here.\n its optional Field .you can leave it if you don't know."},
    {"category", "Put Under Category :", "here enter the name of category you want to put these files under"},
};
// What the extension's "?" sets once pressed.
constexpr const char* kExtensionHelpAgain =
    "here enter the file extentiom .\n Example 'jpg','mp3','avi',..etc.\n Do not put a dot(.) before extention(i.e .mp3)";

}  // namespace

RawSettingDlg::RawSettingDlg(QWidget* parent) : QDialog(parent) {
    setObjectName("RawSettingDlg");
    setWindowTitle(kAppTitle);
    setModal(true);
    auto* outer = new QVBoxLayout(this);
    auto* grid = new QGridLayout;
    int row = 0;
    for (const Field& f : kFields) {
        QWidget* input = nullptr;
        if (QString(f.name) == "includesHeader") {
            includesHeader_ = new QCheckBox(tr(f.label), this);
            input = includesHeader_;
            grid->addWidget(input, row, 0, 1, 2);
        } else {
            auto* edit = new QLineEdit(this);
            edits_.push_back(edit);
            input = edit;
            grid->addWidget(new QLabel(tr(f.label), this), row, 0);
            grid->addWidget(edit, row, 1);
        }
        input->setObjectName(f.name);
        auto* help = new QToolButton(this);
        help->setObjectName(QString(f.name) + "Help");
        help->setText(QStringLiteral("?"));
        help->setToolTip(QString::fromUtf8(f.help));
        const bool first = row == 0;
        connect(help, &QToolButton::clicked, this, [help, first] {
            if (first) help->setToolTip(QString::fromUtf8(kExtensionHelpAgain));
            help->setToolTip(help->toolTip());
            QToolTip::showText(help->mapToGlobal(QPoint(0, help->height())), help->toolTip(), help);
        });
        grid->addWidget(help, row, 2);
        ++row;
    }
    outer->addLayout(grid);

    outer->addWidget(new QLabel(tr("Select Path to Save Entries"), this));
    auto* pathRow = new QHBoxLayout;
    path_ = new QLineEdit(this);
    path_->setObjectName("settingsFile");
    path_->setReadOnly(true);
    auto* pick = new QPushButton(QStringLiteral("..."), this);
    pick->setObjectName("pickFile");
    pathRow->addWidget(path_, 1);
    pathRow->addWidget(pick);
    outer->addLayout(pathRow);

    auto* buttons = new QHBoxLayout;
    auto* save = new QPushButton(tr("Save"), this);
    save->setObjectName("save");
    save->setToolTip(tr("Save"));
    auto* ok = new QPushButton(tr("OK"), this);
    ok->setObjectName("ok");
    auto* cancel = new QPushButton(tr("Cancel"), this);
    cancel->setObjectName("cancel");
    for (QPushButton* b : {save, ok, cancel}) b->setAutoDefault(false);
    buttons->addWidget(save);
    buttons->addStretch(1);
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    outer->addLayout(buttons);

    connect(pick, &QPushButton::clicked, this, [this] { chooseSettingsFile(); });
    connect(save, &QPushButton::clicked, this, [this] { saveRecord(); });
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

raw::SignatureFields RawSettingDlg::fields() const {
    auto text = [this](size_t i) { return edits_[i]->text().trimmed().toStdString(); };
    raw::SignatureFields f;
    f.extension = text(0);
    f.startSignature = text(1);
    f.endSignature = text(2);
    f.sizeOffset = text(3);
    f.sizeBytes = text(4);
    f.sizeIncludesHeader = includesHeader_->isChecked();
    f.headerSize = text(5);
    f.skipSize = text(6);
    f.approximateSize = text(7);
    f.category = text(8);
    return f;
}

void RawSettingDlg::chooseSettingsFile() {
    const QString chosen = chooseSaveFile(this, tr("Settings file"));
    if (chosen.isEmpty()) return;
    std::string error;
    if (!recovery::openSettingsFile(chosen.toStdString(), error)) {
        showMessage(this, qs(error), QMessageBox::Warning);
        return;
    }
    file_ = chosen;
    path_->setText(chosen);
}

void RawSettingDlg::saveRecord() {
    // Without a file there is nowhere to write: say so rather than drop the typed record.
    if (file_.isEmpty()) {
        showMessage(this, tr("Choose the settings file first (\"...\")."), QMessageBox::Warning);
        return;
    }
    const std::string message = raw::appendSignatureRecord(file_.toStdString(), fields());
    const bool saved = message == raw::kRecordSavedText;
    if (saved) ++saved_;
    showMessage(this, qs(message), saved ? QMessageBox::Information : QMessageBox::Warning);
}

}  // namespace quenlow::ui
