// Writes the small workbooks of the tests with the npm package xlsx (0.18.5):
//   node make-small-workbooks.js OUTPUT_FOLDER
// with the package on NODE_PATH. Small files matter: a workbook of a few rows is kept in the
// container's mini stream, which some readers refuse.
const XLSX = require("xlsx");
const path = require("path");
const out = process.argv[2] || ".";

function write(sheetName, rows, file, options = {}) {
  const book = XLSX.utils.book_new();
  XLSX.utils.book_append_sheet(book, XLSX.utils.aoa_to_sheet(rows), sheetName);
  if (options.second)
    XLSX.utils.book_append_sheet(book, XLSX.utils.aoa_to_sheet(options.second), "其他");
  XLSX.writeFile(book, path.join(out, file), { bookType: file.endsWith(".xls") ? "biff8" : "xlsx",
                                               bookSST: !!options.sst });
}

const three = [["姓名", "班级", "编号"],
               ["王一", "七(1)班", "2024001"],
               ["王二", "七(1)班", 2024002],
               ["王三", "七(2)班", "2024003"]];
write("Sheet1", three, "three-rows.xls");
write("Sheet1", three, "three-rows.xlsx");
write("Sheet1", three, "three-rows-sst.xlsx", { sst: true });

// Saved by a Chinese spreadsheet program: no sheet named Sheet1, and another sheet after it.
write("工作表1", three, "chinese-sheet.xls", { second: [["不是名单"]] });
write("工作表1", three, "chinese-sheet.xlsx", { second: [["不是名单"]] });

write("Sheet1", [["姓名", "班级", "学号"], ["王一", "七(1)班", "2024001"]], "student-id-header.xlsx");
write("Sheet1", [["学生姓名", "班级", "编号"], ["王一", "七(1)班", "2024001"]], "wrong-header.xls");
