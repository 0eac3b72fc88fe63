// The Save As decisions, the quality row, the Options dialog and the skin's
// colour tables.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QListView>
#include <QThread>
#include <QTimer>
#include <QLabel>
#include <QSlider>

#include "color_scheme.h"
#include "dialogs.h"
#include "imagefile.h"
#include "save_rules.h"
#include "text_table.h"
#include "toolbar_icons.h"

TEST(SaveRules, DefaultNamesAndTheFileTypeList) {
    SaveDialogRequest r = MakeSaveDialogRequest("/d/a/Portrait.JPG", 8);
    EXPECT_EQ(r.defaultName, "Portrait-repainted");
    EXPECT_EQ(r.filterIndex, 4);
    EXPECT_EQ(r.defaultExtension, ".jpg");
    EXPECT_EQ(r.filters, (std::vector<std::string>{"*.bmp", "*.tif", "*.png", "*.jpg"}));
    r = MakeSaveDialogRequest("/d/a/noextension", 8);
    EXPECT_EQ(r.defaultName, "");
    EXPECT_EQ(r.filterIndex, 0);
    EXPECT_EQ(r.defaultExtension, "");
    r = MakeSaveDialogRequest("/d/a/photo.jpeg", 8);
    EXPECT_EQ(r.defaultName, "photo-repainted");
    EXPECT_EQ(r.filterIndex, 0);
    // 16-bit pictures are offered all four; TIFF comes first unless the name
    // picks one.
    r = MakeSaveDialogRequest("/d/scan.png", 16);
    EXPECT_EQ(r.filters.size(), 4u);
    EXPECT_EQ(r.filterIndex, 3);
    EXPECT_EQ(r.defaultExtension, ".png");
    for (const char* unpicked : {"/d/scan.tiff", "/d/scan.ppm", "/d/scan"}) {
        r = MakeSaveDialogRequest(unpicked, 16);
        EXPECT_EQ(r.filterIndex, 2) << unpicked;
        EXPECT_EQ(r.defaultExtension, ".tif") << unpicked;
    }
    EXPECT_EQ(MakeSaveDialogRequest("/d/scan.tiff", 8).filterIndex, 0);
}

TEST(SaveRules, TargetNamesAndFormats) {
    SaveTarget t = ResolveSaveTarget("/o/out", 3);
    EXPECT_EQ(t.path, "/o/out.png");
    EXPECT_EQ(FreeImageFormatOf(t.formatIndex), kFormatPng);
    t = ResolveSaveTarget("/o/out.tif", 3);
    EXPECT_EQ(t.path, "/o/out.tif");
    EXPECT_EQ(FreeImageFormatOf(t.formatIndex), kFormatTiff);
    t = ResolveSaveTarget("/o/out.jpeg", 4);
    EXPECT_EQ(t.path, "/o/out.jpeg.jpg");
    EXPECT_EQ(FreeImageFormatOf(t.formatIndex), kFormatJpeg);
    t = ResolveSaveTarget("/o/OUT.BMP", 4);
    EXPECT_EQ(t.path, "/o/OUT.BMP");
    EXPECT_EQ(FreeImageFormatOf(t.formatIndex), kFormatBmp);
    t = ResolveSaveTarget("/o/out", 0);
    EXPECT_EQ(t.path, "/o/out.bmp");
    EXPECT_EQ(FreeImageFormatOf(0), -1);
    EXPECT_EQ(InitialJpegQuality(5), 10);
    EXPECT_EQ(InitialJpegQuality(15), 15);
}

TEST(SaveDialog, QualityRowFollowsTheJpegEntry) {
    JpegQualityPanel panel("Jpeg Quality:", 85);
    EXPECT_EQ(panel.Slider()->minimum(), 10);
    EXPECT_EQ(panel.Slider()->maximum(), 100);
    EXPECT_EQ(panel.Slider()->tickPosition(), QSlider::NoTicks);
    panel.FilterSelected(4);
    EXPECT_TRUE(panel.Slider()->isEnabled());
    panel.FilterSelected(3);
    EXPECT_FALSE(panel.Slider()->isEnabled());
    panel.Slider()->setValue(42);
    EXPECT_EQ(panel.Quality(), 42);
    bool numberShown = false;
    for (QLabel* l : panel.findChildren<QLabel*>()) numberShown |= l->text() == "42";
    EXPECT_TRUE(numberShown);
}

TEST(OptionsDialogBox, ListsTheLanguagesWithTheCurrentSelected) {
    AppSettings s;
    s.languages = {{"English", "EN"}, {"Deutsch", "DE"}, {"日本語", "JA"}};
    s.currentLanguage = 2;
    TextTable t;
    OptionsDialog d(s, t, nullptr);
    EXPECT_EQ(d.windowTitle(), "Options");
    EXPECT_EQ(d.List()->count(), 3);
    EXPECT_EQ(d.Selection(), 2);
    EXPECT_EQ(d.List()->itemText(2), QString::fromUtf8("日本語"));
    AppSettings empty;
    OptionsDialog none(empty, t, nullptr);
    EXPECT_EQ(none.Selection(), -1);
}

TEST(Skin, SchemeFallbacksAndGreyedImages) {
    InstallColorScheme();
    EXPECT_EQ(SkinColor(30), QColor(0, 0, 0));
    EXPECT_EQ(SkinColor(kColorBackground), QColor(0, 0, 0));  // unset: the system colour
    EXPECT_EQ(SkinColor(kColorBtnFace), QColor(0x46, 0x46, 0x46));
    EXPECT_EQ(SkinGrey(kColorAppWorkspace), 0x23);
    EXPECT_EQ(SkinBrush(-1).style(), Qt::NoBrush);
    EXPECT_EQ(CurrentColorScheme().number, 2);

    QImage image(2, 1, QImage::Format_ARGB32);
    image.setPixel(0, 0, qRgba(200, 100, 50, 255));
    image.setPixel(1, 0, qRgba(0, 0, 0, 60));
    const QImage grey = GreyedImage(image);
    const int expected = int((0.3 * 200 + 0.5 * 100 + 0.2 * 50) * 0.43 + 120) - 70;
    EXPECT_EQ(qRed(grey.pixel(0, 0)), expected);
    EXPECT_EQ(qBlue(grey.pixel(0, 0)), expected);
    EXPECT_EQ(qAlpha(grey.pixel(0, 0)), 255);
    EXPECT_EQ(qAlpha(grey.pixel(1, 0)), 30);
}

// The Open dialog lists every picture name the program opens, whatever the case
// of its extension, and hides the rest until "All files" is chosen.
TEST(OpenDialog, ListsEveryPictureExtensionInAnyCase) {
    const QString folder = QDir::temp().filePath(QString("quorvane-open-filter-%1").arg(QCoreApplication::applicationPid()));
    QDir(folder).removeRecursively();
    QDir().mkpath(folder);
    const QStringList pictures = {"a.bmp", "b.JPG", "c.jpeg", "d.jpe", "e.tif", "f.TIFF", "g.png", "h.ppm", "i.pgm"};
    for (const QString& name : pictures + QStringList{"notes.txt"}) {
        QFile f(folder + "/" + name);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    QFileDialog dialog;
    SetUpOpenDialog(dialog, "All files");
    dialog.setDirectory(folder);
    auto* list = dialog.findChild<QListView*>("listView");
    ASSERT_NE(list, nullptr);
    auto visibleNames = [&] {
        QStringList names;
        QAbstractItemModel* model = list->model();
        for (int i = 0; i < 200 && model->rowCount(list->rootIndex()) == 0; ++i) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            QThread::msleep(10);
        }
        for (int i = 0; i < 20; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        for (int r = 0; r < model->rowCount(list->rootIndex()); ++r)
            names << model->index(r, 0, list->rootIndex()).data().toString();
        names.sort(Qt::CaseInsensitive);
        return names;
    };
    EXPECT_EQ(visibleNames(), pictures);
    dialog.selectNameFilter("All files (*)");
    EXPECT_TRUE(visibleNames().contains("notes.txt"));
    QDir(folder).removeRecursively();
}

// The program's Open dialog names its entry for every file in the user's
// language.
TEST(OpenDialog, AllFilesInTheChosenLanguage) {
    for (const auto& [language, expected] : {std::pair<int, QString>{1, "Alle Dateien (*)"},
                                             std::pair<int, QString>{4, QString::fromUtf8("すべてのファイル (*)")}}) {
        TextTable texts;
        LoadTexts(texts, std::string(QUORVANE_SOURCE_DIR) + "/data/Quorvane_loc.ini", language);
        QStringList shown;
        QTimer::singleShot(0, [&] {
            if (auto* d = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
                shown = d->nameFilters();
                d->reject();
            }
        });
        EXPECT_FALSE(RunOpenDialog(nullptr, texts)("Open"));
        ASSERT_EQ(shown.size(), 2) << language;
        EXPECT_EQ(shown[1], expected);
    }
}
