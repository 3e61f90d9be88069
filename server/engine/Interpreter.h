// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "server/engine/Ast.h"
#include "server/engine/Object.h"
#include "server/engine/ScriptError.h"

#include <QByteArray>
#include <QDeadlineTimer>

#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace asp {

// Thrown by Response.End and Response.Redirect: the page stops, what it wrote is sent.
struct PageEnd {};

// What the Err object shows.
struct ErrState {
    long number = 0;
    QString source;
    QString description;
    void clear() { *this = ErrState(); }
};

// Runs one parsed page for one request, walking its tree. The program is shared by every
// request running the page; everything that changes lives here.
class Interpreter {
public:
    Interpreter(const Program& program, QByteArray& output);
    Interpreter(const Interpreter&) = delete;
    Interpreter& operator=(const Interpreter&) = delete;

    // A built-in object such as Response, before run().
    void define(const QString& name, Value value);
    void setDeadline(QDeadlineTimer deadline) { m_deadline = deadline; }

    // Throws ScriptError with its file and line, or PageEnd.
    void run();

    ErrState& err() { return m_err; }

private:
    enum class Flow { Normal, ExitDo, ExitFor, ExitProcedure };

    struct Frame {
        const Procedure* procedure = nullptr;
        std::unordered_map<QString, Value> locals;
        std::unordered_map<QString, Value*> refs; // ByRef parameters: the caller's variables
        std::unordered_set<QString> constants;
        bool resumeNext = false;
    };

    Flow execBlock(const Block& block);
    // Under On Error Resume Next: notes the error in Err and answers that the page goes on.
    bool resumed(const ScriptError& e);
    Flow exec(const Stmt& s);
    Flow execIf(const Stmt& s);
    Flow execDo(const Stmt& s);
    Flow execFor(const Stmt& s);
    Flow execForEach(const Stmt& s);
    Flow execSelect(const Stmt& s);
    void execDim(const Stmt& s);
    void assign(const Expr& target, const Value& value, bool isSet);

    Value eval(const Expr& e);
    Value evalName(const Expr& e);
    Value evalMember(const Expr& e);
    Value evalBinary(const Expr& e);
    Value indexInto(const Value& callee, const Args& args, const QString& spelling);
    Args evalArgs(const std::vector<ExprPtr>& args);
    bool isHard(const Expr& e) const;
    bool condition(const Expr& e);

    Value callProcedure(const Procedure& procedure, const std::vector<ExprPtr>& args,
                        const QString& spelling);
    void defineConstants(Frame& frame, const std::vector<std::pair<QString, ExprPtr>>& constants);
    Value* findVariable(const QString& name);
    Value* variableForWrite(const QString& name, const QString& spelling);
    bool isConstant(const QString& name) const;
    void tick();

    const Program& m_program;
    QByteArray& m_output;
    Frame m_page;
    Frame* m_frame = &m_page;
    int m_depth = 0;
    unsigned m_ticks = 0;
    QDeadlineTimer m_deadline{QDeadlineTimer::Forever};
    ErrState m_err;
};

} // namespace asp
