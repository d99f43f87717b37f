// How long the wizard's tree takes to show a large first level (the root folder of a big
// NTFS volume): N items inserted by a worker thread while the UI thread applies the queued
// changes, each folder with a placeholder child, until every item is shown; then the same
// inserts made on the UI thread, and the first-level walk of the completion sequence.
//
//   bench_tree [--items N]   (Qt's offscreen platform; no display needed)

#include <QApplication>
#include <QElapsedTimer>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "ui/controls/FolderTreeAdapter.h"

using quenlow::fs::TreeItem;
using quenlow::ui::CXHtmlTree;
using quenlow::ui::FolderTreeAdapter;

namespace {

void fill(FolderTreeAdapter& tree, int items) {
    TreeItem root = tree.insertItem(0, "ROOT", true, 0);
    tree.expand(root);  // as the NTFS parse does before it fills the first level
    for (int i = 0; i < items; ++i) {
        const bool folder = i % 4 == 0;
        TreeItem item = tree.insertItem(root, "entry " + std::to_string(i) + (folder ? "" : ".txt"), folder,
                                        static_cast<uint64_t>(i + 1));
        if (folder) tree.insertItem(item, "..DUMY..", false, 0);
    }
}

}  // namespace

int main(int argc, char** argv) {
    int items = 20000;
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "--items") == 0) items = std::atoi(argv[i + 1]);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    for (bool fromWorker : {true, false}) {
        CXHtmlTree view;
        view.show();
        FolderTreeAdapter tree;
        tree.attach(&view);
        QElapsedTimer clock;
        clock.start();
        if (fromWorker) {
            std::thread worker([&] { fill(tree, items); });
            while (view.topLevelItemCount() == 0 || view.topLevelItem(0)->childCount() < items)
                QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            worker.join();
        } else {
            fill(tree, items);
        }
        QCoreApplication::processEvents();
        const qint64 shown = clock.elapsed();
        clock.restart();
        int walked = 0;
        for (TreeItem t = tree.firstChild(tree.root()); t != 0; t = tree.nextSibling(t)) walked += tree.data(t) != 0;
        std::printf("tree %-9s %6d first-level items (+%d placeholders) shown in %5lld ms; first level walked in %lld ms\n",
                    fromWorker ? "worker" : "ui-thread", walked, (items + 3) / 4, static_cast<long long>(shown),
                    static_cast<long long>(clock.elapsed()));
    }
    return 0;
}
