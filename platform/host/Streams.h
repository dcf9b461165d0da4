// The effect's parameters as the AEGP suites see them: effect references,
// one stream per parameter with its value, keyframes and dynamic flags, the
// Effect Controls panel's state of each control, and the undo journal.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "AE_GeneralPlug.h"

namespace host {

class Host;

// What the Effect Controls panel shows of one parameter.
struct ParamUI {
    bool hidden = false;     // the stream's AEGP_DynStreamFlag_HIDDEN
    bool disabled = false;   // PF_PUI_DISABLED, as declared or last refreshed
    bool collapsed = false;  // PF_ParamFlag_COLLAPSE_TWIRLY, likewise
    std::string name;
    int refreshes = 0;       // PF_UpdateParamUI calls for this control
};

// One undo step: its name and the parameters whose streams were set inside it.
struct UndoGroup {
    std::string name;
    std::vector<int> changes;
    bool closed = false;
};

// What one user change made happen, from the value the user set to the
// panel's refresh (Host::UserChange).
struct UserAction {
    int index = 0;
    bool supervised = false;           // PF_Cmd_USER_CHANGED_PARAM was sent
    PF_Err changedErr = PF_Err_NONE;
    PF_Err uiErr = PF_Err_NONE;        // PF_Cmd_UPDATE_PARAMS_UI
    std::string message;               // return_msg of the user-changed command
    std::vector<UndoGroup> groups;     // opened during the action
    std::vector<int> ungrouped;        // streams set outside any undo group
    std::vector<int> arrayChanges;     // values the effect changed in the command's parameter array

    // The user can take the whole action back with one undo.
    bool OneUndoStep() const { return groups.size() <= 1 && ungrouped.empty(); }
};

// The application's undo journal. The utility suite's calls name no project,
// so there is one journal for the process, as an application has one undo
// history. Nested groups fold into the outermost one.
class UndoJournal {
public:
    static UndoJournal& Instance();

    A_Err Start(const char* name);
    A_Err End();
    void RecordChange(int index);

    std::vector<UndoGroup> Groups() const;
    std::vector<int> Ungrouped() const;
    int Depth() const;       // groups open now
    long Misuses() const;    // ends without a start, null names
    void Reset();

private:
    UndoJournal() = default;
    mutable std::mutex m_mutex;
    std::vector<UndoGroup> m_groups;
    std::vector<int> m_ungrouped;
    int m_depth = 0;
    long m_misuses = 0;
};

// Effect references, streams and stream values handed out and not yet
// disposed, over all hosts; misuses are disposals of unknown references.
struct StreamBooks {
    long effects = 0;
    long streams = 0;
    long values = 0;
    long misuses = 0;
};
StreamBooks StreamsOutstanding();

// Each stream call by the version of the stream suite it came through, over all
// hosts: the versions share their calls, so only these books tell them apart.
struct StreamSuiteCalls {
    long gets7 = 0, gets9 = 0;                  // AEGP_GetNewEffectStreamByIndex
    long sets7 = 0, sets9 = 0;                  // AEGP_SetStreamValue
    long varies7 = 0, varies9 = 0;              // AEGP_IsStreamTimevarying
    long disposes7 = 0, disposes9 = 0;          // AEGP_DisposeStream
    long values7 = 0, values9 = 0;              // AEGP_GetNewStreamValue
    long valueDisposes7 = 0, valueDisposes9 = 0;  // AEGP_DisposeStreamValue
};
StreamSuiteCalls StreamCallsByVersion();

// Fault injection: the n-th call from now (1 = the next) that takes an effect reference,
// takes or reads or sets a stream, reads or sets its flags, opens an undo group or refreshes
// a control answers A_Err_ALLOC, over all hosts; 0 clears. Disposals are never refused.
// With `null`, the calls that hand out the effect's layer, a layer's composition, a drawing
// or its supplier or surface answer success with nothing instead (the others still refuse).
void FailStreamCall(long nth, bool null = false);
long StreamCalls();  // such calls so far, refused ones included

// For the suites served elsewhere: counts one call; kNull when it is to hand out nothing.
enum class CallFault { kNone, kRefuse, kNull };
CallFault TakeCallFault();

// One host's side: the panel state of its controls and its faults.
class PanelState {
public:
    explicit PanelState(Host* host) : m_host(host) {}

    // The control's state as the panel would draw it now.
    ParamUI UI(int index) const;

    // Fault injection: AEGP_GetNewEffectForEffect answers `err` and no
    // reference (err may be 0: no reference without an error).
    void FailEffectRef(bool fail, A_Err err = A_Err_GENERIC) {
        m_failEffectRef = fail;
        m_effectRefErr = err;
    }

    const UserAction& LastAction() const { return m_lastAction; }

private:
    friend class Host;
    friend struct StreamSuites;
    AEGP_DynStreamFlags& DynamicFlags(int index);
    int& Refreshes(int index);

    Host* m_host;
    std::vector<AEGP_DynStreamFlags> m_dynamicFlags;
    std::vector<int> m_refreshes;
    bool m_failEffectRef = false;
    A_Err m_effectRefErr = A_Err_NONE;
    std::vector<int> m_arrayChanges;
    UserAction m_lastAction;
};

// The suites served from here. The PF interface and layer suites of the
// composition are completed with effect references and layer lookup by id.
const AEGP_PFInterfaceSuite1* WithEffectRefs(const AEGP_PFInterfaceSuite1* composition);
const AEGP_LayerSuite13* WithLayerIds(const AEGP_LayerSuite13* composition);
const AEGP_EffectSuite3* EffectSuite();
const AEGP_StreamSuite9* StreamSuite(int version);  // 7 or 9
const AEGP_DynamicStreamSuite2* DynamicStreamSuite();
const AEGP_UtilitySuite11* UtilitySuite();
const PF_ParamUtilsSuite3* ParamUtilsSuite();

}  // namespace host
