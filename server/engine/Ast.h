// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "server/engine/Value.h"

#include <QByteArray>
#include <QString>

#include <memory>
#include <unordered_map>
#include <vector>

namespace asp {

struct Expr;
struct Stmt;
struct Procedure;
struct Builtin;
using ExprPtr = std::unique_ptr<Expr>;
using Block = std::vector<std::unique_ptr<Stmt>>;

// What a name stands for, found once when the page is parsed (resolveNames), so that a
// running page never looks a name up by its text: the place of its variable in the frame of
// the procedure it is written in and among the page's variables, and the procedure, built-in
// function or named constant of that name, if any.
struct NameSlots {
    const Procedure* scope = nullptr; // the procedure the name is written in; none at page level
    int local = -1;                   // in the frame of `scope`
    int page = -1;
    const Procedure* procedure = nullptr;
    const Builtin* builtin = nullptr;
    const Value* constant = nullptr;
};

enum class Op {
    Add,
    Sub,
    Mul,
    Div,
    IntDiv,
    Mod,
    Pow,
    Concat,
    Eq,
    Ne,
    Lt,
    Gt,
    Le,
    Ge,
    And,
    Or,
    Xor,
    Eqv,
    Imp,
    Neg,
    Not
};

struct Expr {
    enum class Kind {
        Literal, // value; `hard` for comparisons
        Name,    // name, maybe with args: a variable, an array element, a procedure or a built-in
        Member,  // base.name, maybe with args
        Call,    // base(args) on what an expression gave
        Paren,   // (base): passes a variable by value
        Unary,   // op base
        Binary,  // base op rhs
        Is,      // base Is rhs
        With,    // the object of the innermost With, before a leading dot
        Me,      // the object whose method runs
        New,     // New name
    };
    Kind kind = Kind::Literal;
    Op op = Op::Add;
    Value value;
    bool hard = false;
    QString name;     // lower case
    QString spelling; // as written
    NameSlots at;     // of a Name
    ExprPtr base;
    ExprPtr rhs;
    std::vector<ExprPtr> args;
    bool hasArgs = false; // parentheses were written, maybe empty
    bool omitted = false; // an argument left out, as in Mid(s, , 2) or InStr(, a, b)
};

struct DimItem {
    QString name;
    QString spelling;
    std::vector<ExprPtr> bounds;
    bool isArray = false;
    bool isPublic = true; // of a class's fields
    NameSlots at;
};

struct Branch {
    std::vector<ExprPtr> conditions; // If: one; Case: the listed values
    Block body;
};

struct Stmt {
    enum class Kind {
        Html,
        Write,
        Dim,
        ReDim,
        Assign,
        Set,
        Call,
        If,
        Do,
        For,
        ForEach,
        Select,
        Exit,
        OnError,
        With,
        Erase
    };
    enum class Exit { Do, For, Sub, Function, Property };
    Kind kind = Kind::Call;
    quint16 file = 0;
    int line = 0;

    int html = -1;
    ExprPtr target; // Assign, Set: the target; Call: the call; Write: the value
    ExprPtr value;
    std::vector<DimItem> dims;
    bool preserve = false;

    std::vector<Branch> branches; // If, Select
    Block elseBody;
    bool hasElse = false;

    ExprPtr condition;  // Do: none for Do … Loop
    bool until = false; // Do Until / Loop Until
    bool testAtEnd = false;
    QString variable; // For, For Each, Erase
    QString variableSpelling;
    NameSlots at;           // of the variable
    ExprPtr from, to, step; // For; For Each: `from` is the collection
    Block body;

    Exit exit = Exit::Do;
    bool resumeNext = false;
};

struct Param {
    QString name;
    bool byRef = true;
    int local = -1;
};

struct Constant {
    QString name;
    ExprPtr value;
    int slot = -1; // in the frame of the procedure or page that declares it
};

struct Procedure {
    enum class Kind { Sub, Function, Get, Let, Set };
    QString name;
    QString spelling;
    bool isFunction = false; // also a Property Get: it answers a value
    Kind kind = Kind::Sub;
    bool isPublic = true;
    bool isDefault = false;
    std::vector<Param> params;
    std::vector<QString> locals; // declared with Dim inside, made when the procedure is called
    std::vector<Constant> constants;
    Block body;
    quint16 file = 0;
    int line = 0;

    // Its frame: a variable for every name written in it, in the order of `names`.
    std::vector<QString> names;
    std::vector<int> localSlots; // of `locals`
    int result = -1;             // the variable a Function answers with
};

// A Class … End Class: its fields and its members by lower-case name.
struct ClassDef {
    QString name;
    QString spelling;
    std::vector<DimItem> fields;
    std::unordered_map<QString, std::unique_ptr<Procedure>> methods; // Sub and Function
    std::unordered_map<QString, std::unique_ptr<Procedure>> getters, letters, setters;
    QString defaultMember; // Public Default, lower case
};

// A page parsed once and run by many requests at the same time: nothing in it changes
// while it runs.
struct Program {
    std::vector<QString> files;   // site paths: the page, then its includes
    std::vector<QByteArray> html; // literal blocks
    Block body;
    std::unordered_map<QString, std::unique_ptr<Procedure>> procedures;
    std::unordered_map<QString, std::unique_ptr<ClassDef>> classes;
    std::vector<QString> globals; // declared with Dim at page level
    std::vector<Constant> constants;
    bool optionExplicit = false;

    // The page's frame: a variable for every name written anywhere in the page, so that a
    // procedure finds the page's variable of a name it has none of.
    std::vector<QString> names;
    std::unordered_map<QString, int> pageSlots;
    std::vector<int> globalSlots; // of `globals`
};

// Gives every name of a parsed page its NameSlots.
void resolveNames(Program& program);

} // namespace asp
