// The folder tree in a real window: live updates, archives, modifier clicks, the child-check
// worker under option switches, a large folder, and favourites across a restart.
#include <QAction>
#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMenu>
#include <QSignalSpy>
#include <QStandardItemModel>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include "engine/language.h"
#include "settings/settings_store.h"
#include "support/ui_test_support.h"
#include "ui/folder_tree.h"
#include "ui/main_window.h"
#include "ui/path_field.h"

using namespace velorin;
using test::control;

namespace {

QStringList childNames(QStandardItem* item) {
  QStringList names;
  for (int row = 0; item && row < item->rowCount(); ++row) names << item->child(row)->text();
  return names;
}

// Runs the context menu's entry id instead of showing the menu.
void pickMenuEntry(ui::FolderTree& tree, QStandardItem* item, int id) {
  tree.menuRunner = [id](QMenu& menu) -> QAction* {
    for (QAction* action : menu.actions())
      if (action->data().toInt() == id && action->isEnabled()) return action;
    return nullptr;
  };
  tree.view()->scrollTo(item->index());
  const QPoint at = tree.view()->visualRect(item->index()).center();
  emit tree.view()->customContextMenuRequested(at);
}

}  // namespace

class FolderTreeTest : public QObject {
  Q_OBJECT

  test::ProgramFolder program_;
  QTemporaryDir folder_;

  QString settingsPath() const { return folder_.filePath(QStringLiteral("Velorin.ini")); }
  QString makeFolder(const QString& name) {
    QDir().mkpath(folder_.filePath(name));
    return folder_.filePath(name);
  }
  static void touch(const QString& path) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
  }
  ui::WindowStart start(bool showZip = true) {
    StoredSettings settings;
    settings.application.ShowZip = showZip;
    settings.application.FolderList.clear();
    settings.application.folderFlags.clear();
    return test::englishStart(program_, settingsPath(), settings);
  }

 private slots:
  void init() { QFile::remove(settingsPath()); }
  void cleanup() { ui::FolderTree::childCheckHook = nullptr; }

  void foldersAndArchivesFollowTheDisk() {
    const QString root = makeFolder("live");
    makeFolder("live/b");
    for (bool showZip : {false, true}) {
      ui::MainWindow window(start(showZip));
      window.show();
      ui::FolderTree* tree = window.folderTree();
      QVERIFY(control<QTreeView>(window, 1001) == tree->view());
      tree->selectPath(root);
      QStandardItem* item = tree->itemForPath(root);
      QVERIFY(item);
      QCOMPARE(childNames(item), QStringList{"b"});
      QSignalSpy inserted(tree->model(), &QAbstractItemModel::rowsInserted);
      QSignalSpy removed(tree->model(), &QAbstractItemModel::rowsRemoved);

      QVERIFY(QDir(root).mkdir("a10"));
      QVERIFY(inserted.wait(5000));
      QVERIFY(QDir(root).mkdir("a9"));
      QTRY_COMPARE_WITH_TIMEOUT(childNames(item), (QStringList{"a9", "a10", "b"}), 5000);

      touch(root + "/new.zip");
      touch(root + "/note.txt");
      if (showZip) {
        QTRY_COMPARE_WITH_TIMEOUT(childNames(item), (QStringList{"a9", "a10", "b", "new.zip"}), 5000);
        QVERIFY(!tree->model()->hasChildren(tree->itemForPath(root + "/new.zip")->index()));
      } else {
        QVERIFY(QDir(root).mkdir("c"));  // a later event proves the ZIP's was seen and skipped
        QTRY_COMPARE_WITH_TIMEOUT(childNames(item), (QStringList{"a9", "a10", "b", "c"}), 5000);
        QVERIFY(QDir(root).rmdir("c"));
      }
      QVERIFY(QDir(root).rmdir("a10"));
      QVERIFY(removed.wait(5000));
      QVERIFY(!childNames(item).contains("a10"));
      QVERIFY(QDir(root).rename("a9", "z"));
      QTRY_VERIFY_WITH_TIMEOUT(childNames(item).contains("z") && !childNames(item).contains("a9"), 5000);
      QVERIFY(QDir(root).rmdir("z"));
      QFile::remove(root + "/new.zip");
      QFile::remove(root + "/note.txt");
      QTRY_COMPARE_WITH_TIMEOUT(childNames(item), QStringList{"b"}, 5000);
      window.close();
    }
  }

  void modifierClicksChooseInputOrOutput() {
    const QString a = makeFolder("pick/a"), b = makeFolder("pick/b");
    ui::MainWindow window(start());
    window.show();
    ui::FolderTree* tree = window.folderTree();
    auto* input = control<ui::PathField>(window, 1013);
    auto* output = control<ui::PathField>(window, 1014);
    tree->selectPath(a);
    QCOMPARE(input->path(), a);
    QCOMPARE(output->path(), a);
    auto click = [&](const QString& path, Qt::KeyboardModifiers modifiers) {
      QStandardItem* item = tree->itemForPath(path);
      QVERIFY(item);
      tree->view()->scrollTo(item->index());
      QTest::mouseClick(tree->view()->viewport(), Qt::LeftButton, modifiers,
                        tree->view()->visualRect(item->index()).center());
    };
    click(b, Qt::ControlModifier);
    QCOMPARE(input->path(), a);
    QCOMPARE(output->path(), b);
    click(a, Qt::ShiftModifier);
    QCOMPARE(input->path(), a);
    QCOMPARE(output->path(), b);
    click(b, Qt::ShiftModifier);
    QCOMPARE(input->path(), b);
    QCOMPARE(output->path(), b);
    window.close();
  }

  // A link and its target are two items of one folder and both follow it; an unread sub-folder
  // gains and loses its expand button as its contents change.
  void linkedNamesAndUnreadFoldersFollowTheDisk() {
    const QString root = makeFolder("linked");
    makeFolder("linked/real/sub");
    QVERIFY(QFile::link(root + "/real", root + "/link"));
    ui::MainWindow window(start());
    window.show();
    ui::FolderTree* tree = window.folderTree();
    tree->selectPath(root + "/link");
    tree->selectPath(root + "/real");
    const QStringList names{root + "/real", root + "/link"};
    auto bothShow = [&](const QStringList& children) {
      for (const QString& name : names)
        if (childNames(tree->itemForPath(name)) != children) return false;
      return true;
    };
    auto subsShowButtons = [&](bool shown) {
      for (const QString& name : names) {
        QStandardItem* sub = tree->itemForPath(name + "/sub");
        if (!sub || tree->model()->hasChildren(sub->index()) != shown) return false;
      }
      return true;
    };
    QVERIFY(bothShow({"sub"}));
    QTRY_VERIFY_WITH_TIMEOUT(tree->pendingChecks() == 0 && subsShowButtons(false), 5000);
    QVERIFY(QDir(root).mkdir("real/sub/inner"));
    QTRY_VERIFY_WITH_TIMEOUT(subsShowButtons(true), 5000);
    QVERIFY(QDir(root).rmdir("real/sub/inner"));
    QTRY_VERIFY_WITH_TIMEOUT(subsShowButtons(false), 5000);
    QVERIFY(QDir(root).mkdir("real/new"));
    QTRY_VERIFY_WITH_TIMEOUT(bothShow({"new", "sub"}), 5000);
    QVERIFY(QDir(root).rmdir("real/new"));
    QTRY_VERIFY_WITH_TIMEOUT(bothShow({"sub"}), 5000);
    window.close();
  }

  void cursorTellsWhatAClickSets() {
    ui::MainWindow window(start());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTreeView* view = window.folderTree()->view();
    QTest::mouseMove(view->viewport(), view->viewport()->rect().center());
    QTRY_VERIFY(view->underMouse());
    // Events as the platform sends them: a modifier key's event carries the state before it.
    struct Step {
      QEvent::Type type;
      Qt::Key key;
      Qt::KeyboardModifiers before;
      Qt::CursorShape shape;
    };
    const Qt::KeyboardModifiers none, shift = Qt::ShiftModifier, control = Qt::ControlModifier;
    // Input only with Shift, output only with Control, both (plain) with neither or both.
    for (const Step& step : {Step{QEvent::KeyPress, Qt::Key_Shift, none, Qt::UpArrowCursor},
                             Step{QEvent::KeyRelease, Qt::Key_Shift, shift, Qt::PointingHandCursor},
                             Step{QEvent::KeyPress, Qt::Key_Control, none, Qt::DragCopyCursor},
                             Step{QEvent::KeyPress, Qt::Key_Shift, control, Qt::PointingHandCursor},
                             Step{QEvent::KeyRelease, Qt::Key_Shift, control | shift, Qt::DragCopyCursor},
                             Step{QEvent::KeyRelease, Qt::Key_Control, control, Qt::PointingHandCursor}}) {
      QKeyEvent event(step.type, step.key, step.before);
      QApplication::sendEvent(view, &event);
      QCOMPARE(view->viewport()->cursor().shape(), step.shape);
    }
    window.close();
  }

  // The desktop root's text comes from the language file and follows a switch.
  void rootsSpeakTheWindowsLanguage() {
    makeFolder("fav");
    ui::WindowStart japanese = start();
    QString langFile = QStringLiteral("Japanese");
    QVERIFY(loadLanguageModule(japanese.language, langFile, japanese.languageFolder, 1041));
    japanese.settings.application.LangFile = langFile;
    japanese.settings.application.FolderList = {folder_.filePath("fav")};
    japanese.settings.application.folderFlags = QByteArray(1, 0);
    const QString desktop = japanese.language.text(20141), favourites = japanese.language.text(20140);
    ui::MainWindow window(std::move(japanese));
    QStandardItemModel* model = window.folderTree()->model();
    QCOMPARE(model->item(0)->text(), desktop);
    QCOMPARE(model->item(1)->text(), favourites);
    window.switchLanguage(QStringLiteral("English"));
    QCOMPARE(model->item(0)->text(), QStringLiteral("Desktop"));
    QCOMPARE(model->item(1)->text(), QStringLiteral("Favourites"));
  }

  // Checks are slowed so many are queued when the switch comes; nothing may touch an item that
  // went, and the buttons end right for the new setting.
  void switchingArchivesWithChecksQueued() {
    const QString root = makeFolder("queued");
    for (int i = 0; i < 200; ++i) {
      makeFolder(QStringLiteral("queued/d%1").arg(i));
      touch(QStringLiteral("%1/d%2/only.zip").arg(root).arg(i));
    }
    ui::FolderTree::childCheckHook = [](const QString&) { std::this_thread::sleep_for(std::chrono::microseconds(300)); };
    ui::MainWindow window(start(true));
    window.show();
    ui::FolderTree* tree = window.folderTree();
    for (int round = 0; round < 3; ++round) {
      tree->selectPath(root);
      tree->showArchives(false);
      tree->showArchives(true);
      tree->showArchives(false);
      tree->view()->collapse(tree->itemForPath(root)->index());
      QVERIFY(QDir(root).rename("d0", "e0"));  // a collapsed folder drops its rows
      QVERIFY(QDir(root).rename("e0", "d0"));
      QTest::qWait(0);
      tree->showArchives(true);
    }
    tree->selectPath(root);
    tree->showArchives(false);
    QTRY_COMPARE_WITH_TIMEOUT(tree->pendingChecks(), 0, 20000);
    QStandardItem* item = tree->itemForPath(root + "/d5");
    QVERIFY(item);
    QVERIFY(!tree->model()->hasChildren(item->index()));
    tree->showArchives(true);
    QTRY_VERIFY_WITH_TIMEOUT(tree->model()->hasChildren(tree->itemForPath(root + "/d5")->index()), 20000);
    window.close();  // stops the worker with checks still queued
  }

  // The longest gap between two ticks of a 5 ms timer while work() runs and the tree settles.
  static qint64 longestStall(ui::FolderTree& tree, const std::function<void()>& work) {
    QElapsedTimer clock;
    qint64 last = 0, longest = 0;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
      longest = std::max(longest, clock.elapsed() - last);
      last = clock.elapsed();
    });
    tick.start(5);
    clock.start();
    work();
    QTest::qWait(0);
    const QDeadlineTimer deadline(60000);
    while ((tree.pendingRows() > 0 || tree.pendingChecks() > 0) && !deadline.hasExpired()) QTest::qWait(5);
    QTest::qWait(20);
    return longest;
  }

  void largeFolderKeepsTheWindowResponsive() {
    const QString root = makeFolder("large");
    for (int i = 0; i < 10000; ++i) QVERIFY(QDir(root).mkdir(QStringLiteral("f%1").arg(i)));
    ui::FolderTree::childCheckHook = [](const QString& folder) {
      if (folder.endsWith("f77")) std::this_thread::sleep_for(std::chrono::milliseconds(500));  // a slow drive
    };
    ui::MainWindow window(start());
    window.show();
    ui::FolderTree* tree = window.folderTree();
    tree->selectPath(QFileInfo(root).absolutePath());
    QStandardItem* item = tree->itemForPath(root);
    QVERIFY(item);
    // The tree alone, as when the expand button is clicked; then chosen, which also lists it.
    const qint64 expanding = longestStall(*tree, [&] { tree->view()->expand(item->index()); });
    QCOMPARE(item->rowCount(), 10000);
    QCOMPARE(tree->pendingChecks(), 0);
    QCOMPARE(item->child(9999)->text(), QStringLiteral("f9999"));
    tree->view()->collapse(item->index());
    const qint64 choosing = longestStall(*tree, [&] { tree->selectPath(root); });
    QCOMPARE(control<ui::PathField>(window, 1013)->path(), root);
    qInfo("longest event-loop stall for 10,000 folders: %lld ms expanding, %lld ms choosing", expanding, choosing);
    QVERIFY(expanding < 2000);
    QVERIFY(choosing < 2000);
    window.close();
  }

  void favouritesSurviveARestart() {
    const QString a = makeFolder("fav/a");
    makeFolder("fav/a/inner");
    {
      ui::MainWindow window(start());
      window.show();
      ui::FolderTree* tree = window.folderTree();
      tree->selectPath(a);
      pickMenuEntry(*tree, tree->itemForPath(a), 5010);
      QStandardItem* favourites = tree->model()->item(1);
      QVERIFY(favourites);
      tree->view()->expand(favourites->index());
      QCOMPARE(childNames(favourites), QStringList{a});
      pickMenuEntry(*tree, favourites->child(0), 5020);
      window.close();
    }
    const StoredSettings saved = loadSettingsFile(settingsPath(), {}).settings;
    QCOMPARE(saved.application.FolderList, QStringList{a});
    QCOMPARE(saved.application.folderFlags, QByteArray(1, 1));
    ui::WindowStart again = test::englishStart(program_, settingsPath(), saved);
    ui::MainWindow window(std::move(again));
    window.show();
    QStandardItem* favourites = window.folderTree()->model()->item(1);
    QVERIFY(favourites);
    QVERIFY(window.folderTree()->view()->isExpanded(favourites->child(0)->index()));
    QCOMPARE(childNames(favourites->child(0)), QStringList{"inner"});
    window.close();
  }
};

QTEST_MAIN(FolderTreeTest)
#include "folder_tree_test.moc"
