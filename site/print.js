// 青禾名录网页的打印按钮：打印当前网页，标记为 Noprint 的部分（标题、表单和这个按钮）不打印。
(function () {
	var style = document.createElement("style");
	style.media = "print";
	style.appendChild(document.createTextNode(".Noprint {DISPLAY: none !important}"));
	(document.head || document.documentElement).appendChild(style);

	function addButton() {
		if (document.getElementById("dayin")) return;
		var button = document.createElement("input");
		button.type = "button";
		button.id = "dayin";
		button.value = "打印本页";
		button.className = "Noprint";
		button.style.cssText = "position:fixed;top:8px;right:8px;z-index:100;font-size:14px;padding:4px 12px";
		button.onclick = function () { window.print(); };
		document.body.appendChild(button);
	}
	if (document.readyState === "loading") {
		document.addEventListener("DOMContentLoaded", addButton);
	} else {
		addButton();
	}
})();
