// The update flow: from Yes to the end of the clean-up. One worker per attempt downloads the
// package, checks it, stages it, hands over to the new wizard, waits for it and cleans up,
// and tells the dialog what happened with notes posted to its window. Nothing here ever waits
// on the dialog, and the dialog never waits on the flow.
#pragma once
#include <windows.h>

#include "rules/failure.h"
#include "settings/values.h"
#include "win/thread.h"

namespace update {

// Posted to the dialog: wParam a Note, lParam the attempt it belongs to.
constexpr UINT WM_UPDATE_NOTE = WM_APP + 100;

enum class Note : WPARAM {
    Progress,     // more of the package arrived; read it with Flow::CurrentProgress
    Checked,      // the package passed its check and is about to run: staging begins
    HandingOver,  // the new folder is complete and judged: the new wizard starts now
    Failed,       // the attempt failed; a new one may be started
    Ended,        // the new wizard (or the local one) ran and the clean-up is done
};

struct Progress {
    unsigned long long received = 0;
    unsigned long long total = 0;  // 0 while the size is unknown
};

class Attempt;
class UpdateStore;

class Flow {
public:
    // `values` must outlive the flow.
    explicit Flow(const settings::Values& values);
    ~Flow();
    Flow(const Flow&) = delete;
    Flow& operator=(const Flow&) = delete;

    // Yes or Retry: starts a new attempt on a worker of its own, which posts its notes to
    // `window`. false when no worker could be started: the attempt has failed then (LastFailure
    // says so), and no note will come.
    bool Start(HWND window);

    // What made the latest attempt fail, once its Failed note arrived (or Start said false).
    rules::Failure LastFailure() const;

    // Cancel or No: the running attempt, if any, is given up and its later notes are stale.
    // false when the attempt is past its point of no return (its package already runs);
    // it then carries on, and the caller should let it.
    bool Abandon();

    // Whether a note's lParam belongs to the attempt that runs and was not given up.
    bool IsCurrent(LPARAM attempt) const;

    Progress CurrentProgress() const;

    // The one hand-over to the local wizard, for No, Cancel and a flow that cannot finish.
    // false when the local wizard was refused by the package check or could not start.
    bool StartLocalWizard() const;

private:
    const settings::Values& m_values;
    win::Shared<Attempt> m_attempt;
    // The work folder and the package file between attempts, so a cut download can go on
    // where it stopped.
    win::Shared<UpdateStore> m_store;
    LPARAM m_lastId = 0;
};

}  // namespace update
