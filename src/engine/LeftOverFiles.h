// Temporary files that a download cut off by the end of its process left beside current
// targets. Only when a run may have left such files (a marker file says so) is each folder
// looked at, once per run; only a folder holding such files gets a delete per item. Shared
// by the run's lanes.
#pragma once

#include <map>
#include <mutex>
#include <string>

class CLeftOverFiles {
public:
    // A run begins; strMarker is the file whose presence says an earlier run may have left
    // temporary files.
    void Begin(const std::string& strMarker);
    // An earlier run may have left temporary files (true until Begin says otherwise).
    bool Possible() const;
    // Deletes what a download left beside the target, if anything.
    void RemoveBeside(const std::string& strTargetFile);
    // A download of this run is about to write beside its target: the marker is created.
    void MarkPossible();
    // The run ends: the marker goes when every item came through and left nothing.
    void End(bool bAllItemsDone);

private:
    mutable std::mutex m_mutex;
    std::string m_strMarker;
    std::map<std::string, bool> m_folders; // folder: may hold temporary files
    bool m_bPossible = true;               // an earlier run may have left temporary files
    bool m_bMarked = false;                // this run created the marker
    int m_nKept = 0;                       // temporary files that could not be deleted
};
