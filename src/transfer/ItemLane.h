// What the work on an item runs on: a connection, the flag that stops it, and the view that
// its progress and rows go to. The run has one; each worker of the item scheduler another.
#pragma once

#include "transfer/SyncConnection.h"
#include "ui/SyncView.h"

#include <atomic>

struct CItemLane {
    // The stop flag's value when the item scheduler ends a lane's connection that never
    // answered: its item goes to another lane, so nothing of it is undone or reported here.
    static constexpr int kStopWithdrawn = 2;

    CSyncConnection& conn;
    const std::atomic<int>& stop;
    const std::atomic<CSyncView*>& view;

    // The view, or one that shows nothing when none is set.
    CSyncView& View() const {
        static CNullSyncView nullView;
        CSyncView* pView = view.load();
        return pView != nullptr ? *pView : nullView;
    }
};
