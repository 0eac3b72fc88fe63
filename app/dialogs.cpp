#include "dialogs.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>

#include "ids.h"

namespace {
QString Q(const std::string& s) { return QString::fromStdString(s); }
}  // namespace

std::function<QMessageBox::StandardButton(const MessageRequest&)> ShowMessageBox(QWidget* owner) {
    return [owner](const MessageRequest& r) {
        QMessageBox box(r.icon, r.caption.isEmpty() ? QString("Quorvane") : r.caption, r.text, r.buttons, owner);
        return QMessageBox::StandardButton(box.exec());
    };
}

// Every name the decoder takes, in one entry; the dialog matches names without
// regard to case, so PHOTO.JPG shows as well.
void SetUpOpenDialog(QFileDialog& dialog, const QString& allFiles) {
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFilter(dialog.filter() & ~QDir::CaseSensitive);
    const QString pictures = "*.bmp *.jpg *.jpeg *.jpe *.tif *.tiff *.png *.ppm *.pgm";
    dialog.setNameFilters({pictures + " (" + pictures + ")", allFiles + " (*)"});
}

std::function<std::optional<std::string>(const QString&)> RunOpenDialog(QWidget* owner, const TextTable& texts) {
    return [owner, &texts](const QString& title) -> std::optional<std::string> {
        QFileDialog dialog(owner, title);
        SetUpOpenDialog(dialog, Q(texts.Text(112)));
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
        return dialog.selectedFiles().front().toStdString();
    };
}

JpegQualityPanel::JpegQualityPanel(const QString& label, int quality, QWidget* parent)
    : QWidget(parent), quality_(quality) {
    setProperty(kIdProperty, ctl::kQualityPanel);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    label_ = new QLabel(label);
    label_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    label_->setProperty(kIdProperty, ctl::kQualityLabel);
    slider_ = new QSlider(Qt::Horizontal);
    slider_->setRange(10, 100);
    slider_->setPageStep(1);
    slider_->setTickPosition(QSlider::NoTicks);
    slider_->setProperty(kIdProperty, ctl::kQualitySlider);
    number_ = new QLabel;
    number_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    number_->setMinimumWidth(28);
    number_->setProperty(kIdProperty, ctl::kQualityNumber);
    percent_ = new QLabel("%");
    percent_->setProperty(kIdProperty, ctl::kQualityPercent);
    row->addWidget(label_, 1);
    row->addWidget(slider_, 2);
    row->addWidget(number_);
    row->addWidget(percent_);
    slider_->setValue(quality);
    number_->setText(QString::number(quality));
    connect(slider_, &QSlider::valueChanged, this, [this](int v) { SetQuality(v); });
}

void JpegQualityPanel::SetQuality(int value) {
    quality_ = value;
    number_->setText(QString::number(value));
}

void JpegQualityPanel::FilterSelected(int entry) {
    const bool on = QualityRowEnabled(entry);
    for (QWidget* w : {static_cast<QWidget*>(slider_), static_cast<QWidget*>(label_), static_cast<QWidget*>(number_),
                       static_cast<QWidget*>(percent_)})
        w->setEnabled(on);
}

SaveDialogHook RunSaveDialog(QWidget* owner) {
    return [owner](const SaveDialogRequest& request, const QString& title, const QString& qualityLabel,
                   int quality) -> std::optional<SaveChoice> {
        QFileDialog dialog(owner, title);
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        QStringList filters;
        for (const std::string& f : request.filters) filters << Q(f);  // each label is its pattern
        dialog.setNameFilters(filters);
        if (request.filterIndex > 0) dialog.selectNameFilter(filters[request.filterIndex - 1]);
        if (!request.defaultName.empty()) dialog.selectFile(Q(request.defaultName));
        // A name typed without extension takes the selected type's, as in the
        // system dialogs; the opened file's extension is the first default.
        auto suffixOf = [](const QString& filter) { return filter.mid(filter.lastIndexOf('.') + 1); };
        dialog.setDefaultSuffix(request.defaultExtension.empty() ? QString()
                                                                 : Q(request.defaultExtension.substr(1)));
        auto* panel = new JpegQualityPanel(qualityLabel, quality, &dialog);
        if (auto* grid = qobject_cast<QGridLayout*>(dialog.layout()))
            grid->addWidget(panel, grid->rowCount(), 0, 1, grid->columnCount());
        auto entryOf = [filters](const QString& f) { return int(filters.indexOf(f)) + 1; };
        panel->FilterSelected(entryOf(dialog.selectedNameFilter()));
        QObject::connect(&dialog, &QFileDialog::filterSelected, panel,
                         [&dialog, panel, entryOf, suffixOf](const QString& f) {
                             panel->FilterSelected(entryOf(f));
                             dialog.setDefaultSuffix(suffixOf(f));
                         });
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
        SaveChoice c;
        c.name = dialog.selectedFiles().front().toStdString();
        c.entry = entryOf(dialog.selectedNameFilter());
        c.quality = panel->Quality();
        return c;
    };
}

OptionsDialog::OptionsDialog(const AppSettings& settings, const TextTable& texts, QWidget* parent) : QDialog(parent) {
    setProperty(kIdProperty, ctl::kOptionsDialog);
    setWindowTitle(Q(texts.Text(44)));
    setModal(true);
    auto* layout = new QVBoxLayout(this);
    auto* label = new QLabel(Q(texts.Text(43)));
    label->setProperty(kIdProperty, ctl::kLanguageLabel);
    list_ = new QComboBox;
    list_->setProperty(kIdProperty, ctl::kLanguageList);
    for (const LanguageEntry& l : settings.languages) list_->addItem(Q(l.name));
    list_->setCurrentIndex(settings.currentLanguage < list_->count() ? settings.currentLanguage : -1);
    auto* buttons = new QDialogButtonBox;
    buttons->addButton(Q(texts.Text(45)), QDialogButtonBox::AcceptRole);
    buttons->addButton(Q(texts.Text(46)), QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(label);
    layout->addWidget(list_);
    layout->addWidget(buttons);
    adjustSize();
    if (parent) {
        const QRect p = parent->geometry();
        move(p.left() + p.width() / 2 - width() / 2, p.top() + p.height() / 2 - height() / 2);
    }
}

int OptionsDialog::Selection() const { return list_->currentIndex(); }

std::function<std::optional<int>(const AppSettings&, const TextTable&)> RunOptionsDialog(QWidget* owner) {
    return [owner](const AppSettings& settings, const TextTable& texts) -> std::optional<int> {
        OptionsDialog dialog(settings, texts, owner);
        if (dialog.exec() != QDialog::Accepted) return std::nullopt;
        return dialog.Selection();
    };
}
