// The host's own project format: one line per parameter value and keyframe,
// matched to parameters by disk ID on load, as saved projects are.
//
//   umbrafex-host-project 1
//   value <id> <type> <payload>
//   key <id> <seconds> <type> <payload>
//
// Arbitrary data is stored as the hex of the effect's flattened bytes.
#include <cstdio>
#include <fstream>
#include <sstream>

#include "host/HandleSuite.h"
#include "host/Host.h"

namespace host {

namespace {

constexpr const char* kMagic = "umbrafex-host-project 1";

std::string Hex(const std::vector<unsigned char>& bytes) {
    static const char* digits = "0123456789abcdef";
    std::string s;
    for (unsigned char b : bytes) {
        s += digits[b >> 4];
        s += digits[b & 15];
    }
    return s.empty() ? "-" : s;
}

bool Unhex(const std::string& s, std::vector<unsigned char>& out) {
    out.clear();
    if (s == "-") return true;
    if (s.size() % 2) return false;
    for (size_t i = 0; i < s.size(); i += 2) {
        unsigned v = 0;
        if (std::sscanf(s.c_str() + i, "%2x", &v) != 1) return false;
        out.push_back((unsigned char)v);
    }
    return true;
}

}  // namespace

// Writes the payload of one value; false when the effect could not flatten it.
static bool WritePayload(Host& host, const PF_ParamDef& v, std::ostream& out) {
    char buf[64];
    switch (v.param_type) {
        case PF_Param_FLOAT_SLIDER:
            std::snprintf(buf, sizeof buf, "%.17g", v.u.fs_d.value);
            out << buf;
            return true;
        case PF_Param_SLIDER:
        case PF_Param_POPUP:
        case PF_Param_CHECKBOX:
        case PF_Param_BUTTON:
            out << v.u.sd.value;  // each of these keeps its value first
            return true;
        case PF_Param_FIX_SLIDER:
            out << v.u.fd.value;
            return true;
        case PF_Param_ANGLE:
            out << v.u.ad.value;
            return true;
        case PF_Param_COLOR:
            out << int(v.u.cd.value.alpha) << ' ' << int(v.u.cd.value.red) << ' ' << int(v.u.cd.value.green) << ' '
                << int(v.u.cd.value.blue);
            return true;
        case PF_Param_POINT:
            out << v.u.td.x_value << ' ' << v.u.td.y_value;
            return true;
        case PF_Param_ARBITRARY_DATA: {
            std::vector<unsigned char> bytes;
            PF_Handle h = v.u.arb_d.value;
            if (h) {
                A_u_long size = 0;
                PF_ArbParamsExtra extra{};
                extra.id = v.u.arb_d.id;
                extra.which_function = PF_Arbitrary_FLAT_SIZE_FUNC;
                extra.u.flat_size_func_params.arbH = h;
                extra.u.flat_size_func_params.flat_data_sizePLu = &size;
                if (host.ArbitraryRequest(extra)) return false;
                bytes.resize(size);
                extra = PF_ArbParamsExtra{};
                extra.id = v.u.arb_d.id;
                extra.which_function = PF_Arbitrary_FLATTEN_FUNC;
                extra.u.flatten_func_params.arbH = h;
                extra.u.flatten_func_params.buf_sizeLu = size;
                extra.u.flatten_func_params.flat_dataPV = bytes.data();
                if (size && host.ArbitraryRequest(extra)) return false;
            }
            out << Hex(bytes);
            return true;
        }
        default:
            out << '-';
            return true;
    }
}

// Reads a payload into `v` (whose type is set); arbitrary data arrives as a new handle.
static bool ReadPayload(Host& host, std::istream& in, PF_ParamDef& v) {
    switch (v.param_type) {
        case PF_Param_FLOAT_SLIDER:
            return bool(in >> v.u.fs_d.value);
        case PF_Param_SLIDER:
        case PF_Param_POPUP:
        case PF_Param_CHECKBOX:
        case PF_Param_BUTTON:
            return bool(in >> v.u.sd.value);
        case PF_Param_FIX_SLIDER:
            return bool(in >> v.u.fd.value);
        case PF_Param_ANGLE:
            return bool(in >> v.u.ad.value);
        case PF_Param_COLOR: {
            int a, r, g, b;
            if (!(in >> a >> r >> g >> b)) return false;
            v.u.cd.value = {A_u_char(a), A_u_char(r), A_u_char(g), A_u_char(b)};
            return true;
        }
        case PF_Param_POINT:
            return bool(in >> v.u.td.x_value >> v.u.td.y_value);
        case PF_Param_ARBITRARY_DATA: {
            std::string hex;
            std::vector<unsigned char> bytes;
            if (!(in >> hex) || !Unhex(hex, bytes)) return false;
            v.u.arb_d.value = nullptr;
            if (bytes.empty()) return true;
            PF_ArbParamsExtra extra{};
            extra.id = v.u.arb_d.id;
            extra.which_function = PF_Arbitrary_UNFLATTEN_FUNC;
            extra.u.unflatten_func_params.buf_sizeLu = A_u_long(bytes.size());
            extra.u.unflatten_func_params.flat_dataPV = bytes.data();
            extra.u.unflatten_func_params.arbPH = &v.u.arb_d.value;
            return host.ArbitraryRequest(extra) == PF_Err_NONE;
        }
        default: {
            std::string skip;
            return bool(in >> skip);
        }
    }
}

bool Host::SaveProject(const std::string& path, std::string* error) {
    std::lock_guard lock(m_paramMutex);
    std::ofstream out(path, std::ios::trunc);
    if (!out) {
        if (error) *error = "cannot write " + path;
        return false;
    }
    out << kMagic << '\n';
    for (size_t i = 1; i < m_slots.size(); ++i) {
        const PF_ParamDef& def = m_defs[i];
        out << "value " << def.uu.id << ' ' << def.param_type << ' ';
        if (!WritePayload(*this, m_slots[i].current, out)) {
            if (error) *error = "the effect could not flatten parameter " + std::to_string(i);
            return false;
        }
        out << '\n';
        for (const auto& [seconds, key] : m_slots[i].keys) {
            char t[40];
            std::snprintf(t, sizeof t, "%.17g", seconds);
            out << "key " << def.uu.id << ' ' << t << ' ' << def.param_type << ' ';
            if (!WritePayload(*this, key, out)) return false;
            out << '\n';
        }
    }
    out.flush();
    if (!out) {
        if (error) *error = "write failed: " + path;
        return false;
    }
    return true;
}

bool Host::LoadProject(const std::string& path, std::string* error) {
    std::ifstream in(path);
    std::string line;
    if (!in || !std::getline(in, line) || line != kMagic) {
        if (error) *error = "not a project file: " + path;
        return false;
    }
    std::lock_guard lock(m_paramMutex);
    for (size_t i = 1; i < m_slots.size(); ++i) ClearKeyframes(int(i));
    int lineNo = 1;
    while (std::getline(in, line)) {
        ++lineNo;
        std::istringstream fields(line);
        std::string kind;
        A_long id = 0;
        double seconds = 0;
        A_long type = 0;
        fields >> kind >> id;
        if (kind == "key") fields >> seconds;
        fields >> type;
        size_t index = 0;
        for (size_t i = 1; i < m_defs.size(); ++i)
            if (m_defs[i].uu.id == id) index = i;
        if (!fields || (kind != "value" && kind != "key")) {
            if (error) *error = "line " + std::to_string(lineNo) + " is malformed";
            return false;
        }
        // A value whose parameter no longer exists, or changed type, is skipped as a host does.
        if (!index || m_defs[index].param_type != type) continue;
        PF_ParamDef value = m_slots[index].current;
        if (!ReadPayload(*this, fields, value)) {
            if (error) *error = "line " + std::to_string(lineNo) + ": unreadable value";
            return false;
        }
        if (kind == "value") {
            if (type == PF_Param_ARBITRARY_DATA) DisposeArb(m_slots[index].current.u.arb_d.value);
            m_slots[index].current = value;
        } else {
            m_slots[index].keys[seconds] = value;  // the new handle is the key's own
        }
    }
    return true;
}

}  // namespace host
