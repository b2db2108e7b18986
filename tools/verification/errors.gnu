# Log-log plot of the verification study's errors against the grid width.
# Called as: gnuplot -e "data='errors.dat'; output='errors.png'" errors.gnu
# Columns of the data: dx, |p(L) error|/|p(L) - p(0)|, max |u error|/Uin, N.
set encoding utf8
set terminal pngcairo size 900,620 font ",12"
set output output
set title "Error against the exact solution of the 1-D model\n(L = 1 m, D0 = 0.1 m, cd = 0.05, Uin = 1 m/s, f = 0.02)"
set xlabel "grid width dx [m]"
set ylabel "relative error"
set logscale xy
set xtics (0.002, 0.005, 0.01, 0.02, 0.05, 0.1, 0.2)
set format y "10^{%L}"
set xrange [0.0022:0.16]
set yrange [1e-6:0.3]
set grid xtics ytics mytics
set key bottom right box opaque
# Reference slopes through the finest grid of each series.
stats data using 1:2 nooutput name "P"
stats data using 1:3 nooutput name "U"
p1(x) = P_min_y * (x / P_min_x)
u2(x) = U_min_y * (x / U_min_x)**2
plot data using 1:2 with linespoints pointtype 7 pointsize 1.3 linewidth 2 \
       title "outlet pressure: |p(L) error| / (p(L) - p(0))", \
     p1(x) with lines dashtype 2 linecolor rgb "gray30" title "slope 1", \
     data using 1:3 with linespoints pointtype 5 pointsize 1.3 linewidth 2 \
       title "nodal velocity: max |u error| / Uin", \
     u2(x) with lines dashtype 3 linewidth 2 linecolor rgb "gray30" title "slope 2", \
     data using 1:2:(sprintf("N = %d", $4)) with labels offset 0,1.2 notitle
set output
