# Erros da pressão na saída contra a largura da malha: malhas.dat, written by
# the grid study (convergence --grid), holds per grid N, dx, dt, the passes,
# the outlet pressure, its estimated error (against the extrapolated value)
# and its true error (against the exact solution of the 1-D model), in Pa.
# Log-log, with a line of slope 1 (first order) at half the finest grid's
# true error, below the two errors so that it stays in sight.
set encoding utf8
set terminal pngcairo size 800,560 font ",11"
set output 'malhas.png'
set title "Erro da pressão na saída contra a malha"
set xlabel "dx [m]"
set ylabel "|erro| [Pa]"
set logscale xy
set format y "10^{%L}"
set grid xtics ytics mytics
set key top left box opaque
stats 'malhas.dat' using 2:(abs($7)) nooutput name "T"
slope1(x) = 0.5 * T_min_y * (x / T_min_x)
set offsets graph 0.08, graph 0.08, graph 0.15, graph 0.3
plot 'malhas.dat' using 2:(abs($6)) with linespoints pointtype 7 pointsize 1.3 linewidth 2 \
       title "estimado (contra o valor extrapolado)", \
     '' using 2:(abs($7)) with linespoints pointtype 5 pointsize 1.3 linewidth 2 \
       title "verdadeiro (contra a solução exata)", \
     slope1(x) with lines dashtype 2 linecolor rgb "gray30" title "inclinação 1", \
     '' using 2:(abs($7)):(sprintf("N = %d", $1)) with labels offset 0,1.2 notitle
set output
