#pragma once
// The fleet window's port table as a screen reader meets it. Qt gives a
// table's cells the role of a cell whose "Toggle" selects its row, so a
// screen-reader user could not tick one port. Here the port column's cells
// are check boxes (checkable, checked when ticked) whose "Toggle" ticks or
// unticks the port as a click or the space bar does; the other cells read as
// before. The children are laid out as Qt lays out a table's (a row of
// column headers, then the cells row by row), so the view's own focus events
// name the right cell.
//
// Installs the accessibility factory for FleetPortTable; once is enough.
void installPortTableAccessibility();
